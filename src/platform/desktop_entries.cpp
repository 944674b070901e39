#include "platform/desktop_entries.h"

#include "platform/atomic_file.h"
#include "platform/paths.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace kestrel {

namespace {

std::string dataHome() {
    if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x == '/') return x;
    if (const char* h = std::getenv("HOME"); h && *h) return std::string(h) + "/.local/share";
    return {};
}

int writeWhole(const std::string& path, const std::string& text) {
    AtomicFile f;
    if (f.open(path, AtomicFile::Mode::Replace) < 0) return -1;
    if (!f.write(text.data(), text.size())) return -1;
    return f.commit() < 0 ? -1 : 0;
}

std::string readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Values of desktop entries escape backslashes and line breaks.
std::string entryValue(const std::string& v) {
    std::string out;
    for (char c : v) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

// The page a help entry of ours opens, from its "X-Kestrel-Page" key; "" when
// the entry has none (the user wrote it).
std::string helpEntryPage(const std::string& entry) {
    const std::string key = "\nX-Kestrel-Page=";
    const size_t at = entry.find(key);
    if (at == std::string::npos) return {};
    const size_t from = at + key.size();
    return entry.substr(from, entry.find('\n', from) - from);
}

bool isWithin(const std::string& path, std::string folder) {
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    if (folder.empty()) return false;
    return path == folder || path.compare(0, folder.size() + 1, folder + "/") == 0;
}

} // namespace

bool inTemporaryFolder(const std::string& folder) {
    const std::string path = absolutePath(folder);
    if (const char* t = std::getenv("TMPDIR"); t && *t == '/' && isWithin(path, absolutePath(t)))
        return true;
    return isWithin(path, "/tmp") || isWithin(path, "/var/tmp");
}

std::string userApplicationsFolder() {
    const std::string d = dataHome();
    return d.empty() ? std::string() : d + "/applications";
}

std::string helpIndexPath() {
    const std::string exe = executableFolder();
    if (isInstalledCopy()) return exe + "/../share/doc/kestrel/html/index.html";
    return exe + "/help/index.html";
}

std::string desktopExecArgument(const std::string& arg) {
    bool plain = !arg.empty();
    for (char c : arg)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '/' || c == '.' || c == '-' ||
              c == '_' || static_cast<unsigned char>(c) >= 0x80))
            plain = false;
    if (plain) return entryValue(arg);
    std::string q = "\"";
    for (char c : arg) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') q += '\\';
        q += c;
    }
    q += '"';
    return entryValue(q);
}

int writeDesktopEntries(const std::string& folder, const std::string& program,
                        const std::string& iconPng, const std::string& helpPage) {
    const size_t slash = program.rfind('/');
    if (inTemporaryFolder(slash == std::string::npos ? "." : program.substr(0, slash))) return 1;
    if (folder.empty() || !makeDirectories(folder)) return -1;
    std::string icon = "kestrel";
    if (!iconPng.empty() && fileExists(iconPng)) {
        const std::string d = dataHome();
        const std::string iconDir = d + "/icons/hicolor/256x256/apps";
        if (!d.empty() && makeDirectories(iconDir)) {
            const std::string bytes = readWhole(iconPng);
            if (!bytes.empty() && readWhole(iconDir + "/kestrel.png") != bytes)
                writeWhole(iconDir + "/kestrel.png", bytes);
        }
    }
    std::string main = "[Desktop Entry]\n"
                       "Type=Application\n"
                       "Name=Kestrel Media to MP3 Converter (" +
                       entryValue(program) +
                       ")\n"
                       "Name[zh_CN]=岚石多媒体MP3转换器（" +
                       entryValue(program) +
                       "）\n"
                       "Comment=Convert the sound of media files to audio files\n"
                       "Comment[zh_CN]=把多媒体文件的声音转换成音频文件\n"
                       "Exec=" +
                       desktopExecArgument(program) +
                       " %F\n"
                       "Icon=" +
                       icon +
                       "\n"
                       "Terminal=false\n"
                       "Categories=AudioVideo;Audio;\n";
    int rc = 0;
    const std::string mainPath = folder + "/" + kLocalEntryId + ".desktop";
    if (readWhole(mainPath) != main && writeWhole(mainPath, main) < 0) rc = -1;
    // Earlier copies wrote their entries under the package's id, which hid
    // the installed program's entry.
    for (const char* id : {"org.kestrel.Kestrel", "org.kestrel.Kestrel.help"}) {
        const std::string old = folder + "/" + id + ".desktop";
        const std::string text = readWhole(old);
        const std::string exec = "\nExec=" + desktopExecArgument(program) + "\n";
        const std::string help = "\nExec=xdg-open " + desktopExecArgument(helpPage) + "\n";
        if (text.find(exec) != std::string::npos || text.find(help) != std::string::npos)
            std::remove(old.c_str());
    }
    const std::string helpPath = folder + "/" + kLocalHelpEntryId + ".desktop";
    const std::string helpNow = readWhole(helpPath);
    const std::string page = helpEntryPage(helpNow);
    if (!fileExists(helpPath) || (!page.empty() && !fileExists(page))) {
        std::string help = "[Desktop Entry]\n"
                           "Type=Application\n"
                           "Name=Kestrel Help\n"
                           "Name[zh_CN]=岚石多媒体MP3转换器帮助\n"
                           "Exec=xdg-open " +
                           desktopExecArgument(helpPage) +
                           "\n"
                           "Icon=help-browser\n"
                           "Terminal=false\n"
                           "Categories=AudioVideo;Audio;\n"
                           "X-Kestrel-Page=" +
                           entryValue(helpPage) + "\n";
        if (writeWhole(helpPath, help) < 0) rc = -1;
    }
    return rc;
}

} // namespace kestrel
