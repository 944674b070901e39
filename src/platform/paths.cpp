#include "platform/paths.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <functional>
#include <fcntl.h>
#include <mutex>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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

#ifndef KESTREL_INSTALL_LIB_RELATIVE
#define KESTREL_INSTALL_LIB_RELATIVE "../lib/kestrel"
#endif

} // namespace

std::string installedLibraryFolder() {
    const std::string exe = executableFolder();
    const std::string libs = exe + "/" + KESTREL_INSTALL_LIB_RELATIVE;
    return isDirectory(libs) ? libs : std::string();
}

bool isInstalledCopy() {
    return !installedLibraryFolder().empty();
}

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
    // A build tree keeps its files beside the executable when it may write
    // there; an installed copy never does (root could write to /usr/bin).
    std::string exe = executableFolder();
    if (!isInstalledCopy() && ::access(exe.c_str(), W_OK) == 0) return exe;
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
    if (std::string installed = installedLibraryFolder(); !installed.empty()) return installed;
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
    return tempFolder() + "/~tmp." + runTag() + ".wav";
}

namespace {

std::string hostName() {
    char buf[256] = {0};
    if (::gethostname(buf, sizeof buf - 1) != 0 || buf[0] == '\0') return "localhost";
    std::string h = buf;
    for (auto& c : h)
        if (c == '/') c = '_';
    return h;
}

// The process id of a name "<stem>.<host>.<pid>.<ext>" made on this host, or
// 0 when the name is not of that form or comes from another host.
pid_t taggedPid(const std::string& name, const std::string& host) {
    size_t extDot = name.rfind('.');
    if (extDot == std::string::npos || extDot == 0) return 0;
    size_t pidDot = name.rfind('.', extDot - 1);
    if (pidDot == std::string::npos || pidDot + 1 == extDot) return 0;
    long long pid = 0;
    for (size_t i = pidDot + 1; i < extDot; ++i) {
        if (name[i] < '0' || name[i] > '9' || pid > 1000000000LL) return 0;
        pid = pid * 10 + (name[i] - '0');
    }
    std::string tail = "." + host;
    if (pidDot < tail.size() + 1 || name.compare(pidDot - tail.size(), tail.size(), tail) != 0)
        return 0;
    return static_cast<pid_t>(pid);
}

// Gone: no such process, or one that has ended and waits to be reaped.
bool processGone(pid_t pid) {
    if (pid <= 0 || pid == ::getpid()) return false;
    if (::kill(pid, 0) != 0) return errno == ESRCH;
    std::string stat;
    if (FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r")) {
        char buf[512];
        size_t n = std::fread(buf, 1, sizeof buf - 1, f);
        std::fclose(f);
        stat.assign(buf, n);
    }
    // "pid (name) S ...": the state follows the name's last ")".
    size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z';
}

std::vector<std::string> folderNames(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d))
            names.emplace_back(e->d_name);
        ::closedir(d);
    }
    return names;
}

} // namespace

std::string runTag() {
    return hostName() + "." + std::to_string(::getpid());
}

std::string tempNameFor(const std::string& path, int k) {
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string tail;
    if (k > 0) tail += '~' + std::to_string(k);
    tail += '.';
    tail += runTag();
    tail += ".part";
    // "." + base + tail within one name's bytes, the base cut on a character
    // boundary (a UTF-8 sequence is never split).
    const size_t room =
        kMaxFileNameBytes > tail.size() + 1 ? kMaxFileNameBytes - tail.size() - 1 : 0;
    if (base.size() > room) {
        size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(base[cut]) & 0xC0) == 0x80)
            --cut;
        base.resize(cut);
    }
    return dir + "." + base + tail;
}

namespace {

// Removes what gone runs of this host left in `dir`: names `wanted` accepts
// whose tag names a process that is gone. Regular files go; folders only where
// `folders` allows (a batch's working folder), with all they hold.
int sweepFolder(const std::string& dir, const std::string& host, bool folders,
                const std::function<bool(const std::string&)>& wanted) {
    int removed = 0;
    for (const auto& name : folderNames(dir)) {
        if (name == "." || name == ".." || !wanted(name)) continue;
        std::string p = dir + "/" + name;
        struct stat st;
        if (::lstat(p.c_str(), &st) != 0) continue;
        if (!S_ISREG(st.st_mode) && !(folders && S_ISDIR(st.st_mode))) continue;
        if (!processGone(taggedPid(name, host))) continue;
        std::error_code ec;
        if (S_ISDIR(st.st_mode) ? std::filesystem::remove_all(p, ec) > 0 && !ec
                                : ::unlink(p.c_str()) == 0)
            ++removed;
    }
    return removed;
}

bool isTempName(const std::string& n) {
    return n.size() > 6 && n[0] == '.' && n.compare(n.size() - 5, 5, ".part") == 0;
}

} // namespace

int removeStaleTempFilesIn(const std::string& dir) {
    return sweepFolder(dir.empty() ? "." : dir, hostName(), false, isTempName);
}

int removeStaleTempFiles() {
    const std::string host = hostName();
    int removed = sweepFolder(programFolder(), host, false, isTempName);
    if (isDirectory(tempFolder()))
        removed += sweepFolder(tempFolder(), host, true, [](const std::string&) { return true; });
    return removed;
}

std::string absolutePath(const std::string& path) {
    if (path.empty()) return path;
    std::string base;
    if (path[0] != '/') {
        const char* pwd = std::getenv("PWD");
        if (pwd && pwd[0] == '/' && sameFile(pwd, ".")) {
            base = pwd;
        } else {
            std::vector<char> buf(PATH_MAX + 1);
            if (::getcwd(buf.data(), buf.size())) base = buf.data();
        }
        if (base.empty()) return path;
    }
    // Components of base + path, cleaned lexically where that is safe.
    std::vector<std::string> parts;
    auto addAll = [&](const std::string& s) {
        size_t i = 0;
        while (i <= s.size()) {
            size_t j = s.find('/', i);
            if (j == std::string::npos) j = s.size();
            std::string c = s.substr(i, j - i);
            i = j + 1;
            if (c.empty() || c == ".") continue;
            if (c == ".." && !parts.empty() && parts.back() != "..") {
                std::string dir;
                for (const auto& p : parts)
                    dir += "/" + p;
                struct stat st;
                // "name/.." is the folder holding name only when name is no
                // symbolic link (and exists: otherwise keep what was typed).
                if (::lstat(dir.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
                    parts.pop_back();
                    continue;
                }
            } else if (c == ".." && parts.empty()) {
                continue; // "/.." is "/"
            }
            parts.push_back(c);
        }
    };
    addAll(base);
    addAll(path);
    std::string out;
    for (const auto& p : parts) {
        out += '/';
        out += p;
    }
    if (out.empty()) out.push_back('/');
    if (path.size() > 1 && path.back() == '/' && out != "/") out += '/';
    return out;
}

SourceCheck checkSource(const std::string& path) {
    SourceCheck c;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        c.error = errno;
        return c;
    }
    if (S_ISDIR(st.st_mode))
        c.kind = SourceKind::Directory;
    else if (S_ISFIFO(st.st_mode))
        c.kind = SourceKind::Fifo;
    else if (S_ISCHR(st.st_mode))
        c.kind = SourceKind::CharDevice;
    else if (S_ISBLK(st.st_mode))
        c.kind = SourceKind::BlockDevice;
    else if (S_ISSOCK(st.st_mode))
        c.kind = SourceKind::Socket;
    else if (!S_ISREG(st.st_mode))
        c.kind = SourceKind::OtherType;
    if (!S_ISREG(st.st_mode)) return c;
    // Whether it can be read: the system's reason when not.
    FILE* f = openSource(path);
    if (!f) {
        c.kind = SourceKind::CannotOpen;
        c.error = errno;
        return c;
    }
    std::fclose(f);
    c.size = static_cast<unsigned long long>(st.st_size);
    c.kind = st.st_size > 0 ? SourceKind::Regular : SourceKind::Empty;
    return c;
}

FILE* openSource(const std::string& path) {
    // O_NONBLOCK: a FIFO put in the file's place must not block the open.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st;
    bool known = ::fstat(fd, &st) == 0;
    if (!known || !S_ISREG(st.st_mode)) {
        int e = !known ? errno : S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        errno = e;
        return nullptr;
    }
    int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    FILE* f = ::fdopen(fd, "rb");
    if (!f) {
        int e = errno;
        ::close(fd);
        errno = e;
    }
    return f;
}

} // namespace kestrel
