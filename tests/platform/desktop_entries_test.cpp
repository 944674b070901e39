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

TEST(DesktopEntries, ProgramEntryFollowsTheExecutableHelpEntryIsKeptWhileItsPageExists) {
    test::TempDir dir;
    setenv("XDG_DATA_HOME", dir.file("data").c_str(), 1);
    const std::string apps = dir.file("data/applications");
    const std::string icon = dir.file("icon.png");
    test::writeFile(icon, std::string("\x89PNG fake icon", 14));
    const std::string page = dir.file("doc/index.html");
    fs::create_directories(dir.file("doc"));
    fs::create_directories(apps);
    test::writeFile(page, std::string("<html>"));
    // Entries an earlier copy of the same program wrote under the package's
    // id (hiding the installed program's entry) go; another program's stay.
    test::writeFile(apps + "/org.kestrel.Kestrel.desktop",
                    std::string("[Desktop Entry]\nType=Application\nName=K\n"
                                "Exec=\"/opt/my tools/kestrel\"\n"));
    test::writeFile(
        apps + "/org.kestrel.Kestrel.help.desktop",
        std::string("[Desktop Entry]\nType=Application\nName=H\nExec=xdg-open /else\n"));
    ASSERT_EQ(writeDesktopEntries(apps, "/opt/my tools/kestrel", icon, page), 0);
    EXPECT_FALSE(fs::exists(apps + "/org.kestrel.Kestrel.desktop"));
    EXPECT_TRUE(fs::exists(apps + "/org.kestrel.Kestrel.help.desktop"));
    const std::string mainEntry = slurp(apps + "/org.kestrel.Kestrel.Local.desktop");
    EXPECT_NE(mainEntry.find("Exec=\"/opt/my tools/kestrel\" %F\n"), std::string::npos);
    EXPECT_NE(mainEntry.find("Name[zh_CN]=岚石多媒体MP3转换器（/opt/my tools/kestrel）\n"),
              std::string::npos);
    EXPECT_EQ(slurp(dir.file("data/icons/hicolor/256x256/apps/kestrel.png")), slurp(icon));
    const std::string helpEntry = apps + "/org.kestrel.Kestrel.Local.help.desktop";
    EXPECT_NE(slurp(helpEntry).find("Exec=xdg-open " + page + "\n"), std::string::npos);
    if (haveValidator()) {
        EXPECT_EQ(std::system(("desktop-file-validate '" + apps +
                               "/org.kestrel.Kestrel.Local.desktop' '" + helpEntry + "'")
                                  .c_str()),
                  0);
    }

    // The program moved: its entry follows; the help entry stays while its
    // page exists, and is written again when the page is gone.
    ASSERT_EQ(writeDesktopEntries(apps, "/usr/local/bin/kestrel", "", dir.file("new.html")), 0);
    EXPECT_NE(
        slurp(apps + "/org.kestrel.Kestrel.Local.desktop").find("Exec=/usr/local/bin/kestrel %F\n"),
        std::string::npos);
    EXPECT_NE(slurp(helpEntry).find("Exec=xdg-open " + page + "\n"), std::string::npos);
    fs::remove(page);
    ASSERT_EQ(writeDesktopEntries(apps, "/usr/local/bin/kestrel", "", dir.file("new.html")), 0);
    EXPECT_NE(slurp(helpEntry).find("Exec=xdg-open " + dir.file("new.html") + "\n"),
              std::string::npos);
    // The user's own help entry is theirs.
    test::writeFile(helpEntry,
                    std::string("[Desktop Entry]\nType=Application\nName=Mine\nExec=true\n"));
    ASSERT_EQ(writeDesktopEntries(apps, "/usr/local/bin/kestrel", "", "/x/index.html"), 0);
    EXPECT_NE(slurp(helpEntry).find("Name=Mine"), std::string::npos);
    for (const auto& e : fs::directory_iterator(apps))
        EXPECT_EQ(e.path().extension(), ".desktop") << e.path(); // no temporary left
    unsetenv("XDG_DATA_HOME");
}

// A copy that runs from a temporary folder writes no entries.
TEST(DesktopEntries, NoEntriesFromATemporaryFolder) {
    test::TempDir dir;
    const std::string apps = dir.file("apps");
    setenv("TMPDIR", dir.file("scratch").c_str(), 1);
    for (const std::string& program :
         {dir.file("scratch/unpacked/kestrel"), std::string("/tmp/k/kestrel"),
          std::string("/var/tmp/kestrel")}) {
        EXPECT_EQ(writeDesktopEntries(apps, program, "", "/h"), 1) << program;
        EXPECT_FALSE(fs::exists(apps)) << program;
    }
    EXPECT_FALSE(inTemporaryFolder("/tmpfiles/kestrel"));
    EXPECT_EQ(writeDesktopEntries(apps, "/opt/kestrel/kestrel", "", "/h"), 0);
    EXPECT_TRUE(fs::exists(apps + "/org.kestrel.Kestrel.Local.desktop"));
    unsetenv("TMPDIR");
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
