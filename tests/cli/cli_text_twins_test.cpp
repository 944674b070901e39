// Every catalogue text a command-line run can print has an English twin that
// fills in the same values, and a formatted message comes back in English.
#include "cli/localize.h"

#include "engine/catalogue/texts.h"
#include "engine/convert/texts.h"
#include "engine/core/text_format.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

using kestrel::cli::textTwins;

namespace {

// The conversions of a printf format, in order ("%s", "%d" ...).
std::vector<std::string> conversions(const std::string& f) {
    std::vector<std::string> v;
    std::regex spec("%[-+ #0-9.lhz]*[a-zA-Z%]");
    for (auto it = std::sregex_iterator(f.begin(), f.end(), spec); it != std::sregex_iterator();
         ++it)
        if (it->str() != "%%") v.push_back(it->str());
    return v;
}

bool hasCjk(const std::string& s) {
    for (unsigned char c : s)
        if (c >= 0xE3 && c <= 0xE9) return true;
    return false;
}

// The string literals with Chinese in the engine's catalogues a command-line
// run can reach: all but the window's own controls (the display's tips, the
// output manager's buttons, the add dialog's file filters) and the settings
// file's key names.
std::set<std::string> catalogueTexts() {
    const std::filesystem::path root = std::filesystem::path(KESTREL_SOURCE_DIR) / "src/engine";
    const std::set<std::string> windowOnly = {"texts_display.h", "texts_output_manager.h"};
    std::set<std::string> texts;
    for (const auto& f : std::filesystem::recursive_directory_iterator(root)) {
        const std::string name = f.path().filename().string();
        if (name.find("texts") == std::string::npos || f.path().extension() != ".h") continue;
        if (windowOnly.count(name) || f.path().parent_path().filename() == "settings") continue;
        std::ifstream in(f.path());
        std::stringstream all;
        all << in.rdbuf();
        // Adjacent literals of one constant are joined first; the add
        // dialog's filter table goes.
        std::string src = std::regex_replace(all.str(), std::regex("\"\\s*\\n\\s*\""), "");
        src = std::regex_replace(src, std::regex("kOpenFileFilters[^;]*;"), "");
        std::regex literal("\"((?:[^\"\\\\]|\\\\.)*)\"");
        for (auto it = std::sregex_iterator(src.begin(), src.end(), literal);
             it != std::sregex_iterator(); ++it)
            if (hasCjk((*it)[1])) texts.insert((*it)[1]);
    }
    return texts;
}

} // namespace

TEST(CliTextTwins, EveryReachableCatalogueTextHasAnEnglishTwin) {
    std::set<std::string> twinned;
    for (const auto& t : textTwins()) {
        twinned.insert(t.zh);
        EXPECT_FALSE(hasCjk(t.en)) << t.en;
        EXPECT_EQ(conversions(t.zh), conversions(t.en)) << t.zh << " / " << t.en;
    }
    const auto texts = catalogueTexts();
    EXPECT_GT(texts.size(), 60u);
    for (const auto& zh : texts) {
        // The joined output's name is a file name of the window's, not a message.
        if (zh == kestrel::text::kJoinedNameFormat) continue;
        EXPECT_TRUE(twinned.count(zh)) << "no English twin: " << zh;
    }
}

TEST(CliTextTwins, FormattedMessagesComeBackInEnglish) {
    using kestrel::formatText;
    namespace text = kestrel::text;
    struct Case {
        std::string in, out;
    } cases[] = {
        // A path with the text's own punctuation in it.
        {formatText(text::kUndeterminedType, "/a:b/文件x.mpg"),
         "/a:b/文件x.mpg: the file type cannot be determined"},
        // A catalogue text filled in as a value comes back in English too.
        {formatText(text::kOutputWriteFailed, "out.mp3", text::kReasonDiskFull),
         "writing the output out.mp3 failed: the disk is full. Its conversion stopped; the file "
         "holds only what was written before"},
        {text::kAmrRate, "an AMR source converts only at 8000 or 11025 Hz"},
        // A system's reason after the text stays.
        {formatText(text::kOpenMediaFailed, "x.mpg") + ": No such file or directory",
         "x.mpg: cannot open the media file: No such file or directory"},
        // No twin: the text as it is.
        {"something else", "something else"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(kestrel::cli::englishOf(c.in), c.out) << c.in;
}
