#include "platform/paths.h"

#include <cstdlib>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

namespace kestrel {
namespace {

std::mutex g_mutex;
std::string g_programOverride;
std::string g_libraryOverride;

std::string stripSlash(std::string s) {
    while (s.size() > 1 && s.back() == '/')
        s.pop_back();
    return s;
}

} // namespace

std::string executableFolder() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    std::string p(buf, static_cast<size_t>(n));
    auto slash = p.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return p.substr(0, slash);
}

bool isDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool fileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

unsigned long long fileSize(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    if (::access(path.c_str(), R_OK) != 0) return 0;
    return static_cast<unsigned long long>(st.st_size);
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool makeDirectories(const std::string& path) {
    if (path.empty()) return false;
    if (isDirectory(path)) return true;
    auto slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0) makeDirectories(path.substr(0, slash));
    return ::mkdir(path.c_str(), 0755) == 0 || isDirectory(path);
}

std::string programFolder() {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (!g_programOverride.empty()) {
            makeDirectories(g_programOverride);
            return g_programOverride;
        }
    }
    if (const char* home = std::getenv("KESTREL_HOME"); home && *home) {
        std::string d = stripSlash(home);
        makeDirectories(d);
        return d;
    }
    std::string exe = executableFolder();
    if (::access(exe.c_str(), W_OK) == 0) return exe;
    std::string base;
    if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x == '/') {
        base = x;
    } else if (const char* h = std::getenv("HOME"); h && *h) {
        base = std::string(h) + "/.local/share";
    } else {
        base = "/tmp";
    }
    std::string d = stripSlash(base) + "/kestrel";
    makeDirectories(d);
    return d;
}

void setProgramFolder(const std::string& dir) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_programOverride = dir.empty() ? std::string() : stripSlash(dir);
}

std::string libraryFolder() {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (!g_libraryOverride.empty()) return g_libraryOverride;
    }
    if (const char* d = std::getenv("KESTREL_LIB_DIR"); d && *d) return stripSlash(d);
    return executableFolder();
}

void setLibraryFolder(const std::string& dir) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_libraryOverride = dir.empty() ? std::string() : stripSlash(dir);
}

std::string settingsPath() {
    return programFolder() + "/tavolin.ini";
}
std::string listFilePath() {
    return programFolder() + "/mpginfo.dat";
}
std::string tempFolder() {
    return programFolder() + "/tmp";
}
std::string tempWavPath() {
    return tempFolder() + "/~tmp.wav";
}

} // namespace kestrel
