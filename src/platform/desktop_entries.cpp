#include "platform/desktop_entries.h"

#include "platform/atomic_file.h"
#include "platform/paths.h"

#include <cctype>
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

} // namespace

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
                       "Name=Kestrel Media to MP3 Converter\n"
                       "Name[zh_CN]=岚石多媒体MP3转换器\n"
                       "Comment=Convert the sound of media files to audio files\n"
                       "Comment[zh_CN]=把多媒体文件的声音转换成音频文件\n"
                       "Exec=" +
                       desktopExecArgument(program) +
                       "\n"
                       "Icon=" +
                       icon +
                       "\n"
                       "Terminal=false\n"
                       "Categories=AudioVideo;Audio;\n";
    int rc = 0;
    const std::string mainPath = folder + "/org.kestrel.Kestrel.desktop";
    if (readWhole(mainPath) != main && writeWhole(mainPath, main) < 0) rc = -1;
    const std::string helpPath = folder + "/org.kestrel.Kestrel.help.desktop";
    if (!fileExists(helpPath)) {
        std::string help = "[Desktop Entry]\n"
                           "Type=Application\n"
                           "Name=Kestrel Help\n"
                           "Name[zh_CN]=岚石多媒体MP3转换器帮助\n"
                           "Exec=xdg-open " +
                           desktopExecArgument(helpPage) +
                           "\n"
                           "Icon=help-browser\n"
                           "Terminal=false\n"
                           "Categories=AudioVideo;Audio;\n";
        if (writeWhole(helpPath, help) < 0) rc = -1;
    }
    return rc;
}

} // namespace kestrel
