#include "platform/desktop_entries.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

using namespace kestrel;
namespace fs = std::filesystem;

namespace {

std::string slurp(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool haveValidator() {
    return std::system("desktop-file-validate --help >/dev/null 2>&1") == 0;
}

} // namespace

TEST(DesktopEntries, ProgramEntryFollowsTheExecutableHelpEntryIsKept) {
    test::TempDir dir;
    setenv("XDG_DATA_HOME", dir.file("data").c_str(), 1);
    const std::string apps = dir.file("data/applications");
    const std::string icon = dir.file("icon.png");
    test::writeFile(icon, std::string("\x89PNG fake icon", 14));
    ASSERT_EQ(writeDesktopEntries(apps, "/opt/my tools/kestrel", icon, "/usr/share/doc/index.html"),
              0);
    const std::string mainEntry = slurp(apps + "/org.kestrel.Kestrel.desktop");
    EXPECT_NE(mainEntry.find("Exec=\"/opt/my tools/kestrel\"\n"), std::string::npos);
    EXPECT_NE(mainEntry.find("Name[zh_CN]=岚石多媒体MP3转换器\n"), std::string::npos);
    EXPECT_EQ(slurp(dir.file("data/icons/hicolor/256x256/apps/kestrel.png")), slurp(icon));
    const std::string helpEntry = apps + "/org.kestrel.Kestrel.help.desktop";
    EXPECT_NE(slurp(helpEntry).find("Exec=xdg-open /usr/share/doc/index.html\n"),
              std::string::npos);
    if (haveValidator()) {
        EXPECT_EQ(std::system(("desktop-file-validate '" + apps +
                               "/org.kestrel.Kestrel.desktop' '" + helpEntry + "'")
                                  .c_str()),
                  0);
    }

    // The user edited the help entry: it stays; the program moved: its entry follows.
    test::writeFile(helpEntry,
                    std::string("[Desktop Entry]\nType=Application\nName=Mine\nExec=true\n"));
    ASSERT_EQ(writeDesktopEntries(apps, "/usr/local/bin/kestrel", "", "/x/index.html"), 0);
    EXPECT_NE(slurp(apps + "/org.kestrel.Kestrel.desktop").find("Exec=/usr/local/bin/kestrel\n"),
              std::string::npos);
    EXPECT_NE(slurp(helpEntry).find("Name=Mine"), std::string::npos);
    for (const auto& e : fs::directory_iterator(apps))
        EXPECT_EQ(e.path().extension(), ".desktop") << e.path(); // no temporary left
    unsetenv("XDG_DATA_HOME");
}

TEST(DesktopEntries, ExecArgumentsAreQuotedAsTheSpecificationSays) {
    EXPECT_EQ(desktopExecArgument("/usr/bin/kestrel"), "/usr/bin/kestrel");
    EXPECT_EQ(desktopExecArgument("/a b/k"), "\"/a b/k\"");
    EXPECT_EQ(desktopExecArgument("/a$b/\"k\""), "\"/a\\\\$b/\\\\\"k\\\\\"\"");
}

TEST(DesktopEntries, UnwritableFolderFails) {
    test::TempDir dir;
    test::writeFile(dir.file("file"), std::string("x"));
    EXPECT_EQ(writeDesktopEntries(dir.file("file/apps"), "/k", "", "/h"), -1);
}
