#include "engine/convert/output_naming.h"

#include "engine/convert/texts.h"
#include "engine/settings/settings.h"
#include "platform/paths.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel {

namespace {

std::string cut(std::string s) {
    if (s.size() > kMaxOutputName) s.resize(kMaxOutputName);
    return s;
}

} // namespace

std::string sourceBaseName(const std::string& sourcePath) {
    size_t slash = sourcePath.rfind('/');
    std::string base = slash == std::string::npos ? sourcePath : sourcePath.substr(slash + 1);
    size_t dot = base.rfind('.');
    return dot == std::string::npos ? std::string() : base.substr(0, dot);
}

std::string make_output_name(int, const std::string& sourcePath, int outputType, int saveMode,
                             const std::tm& t, const std::string& savePath) {
    const char* ext = outputExtension(outputType);
    std::vector<char> buf(savePath.size() + sourcePath.size() + 64);
    if (saveMode == 1) {
        std::snprintf(buf.data(), buf.size(), text::kJoinedNameFormat, savePath.c_str(),
                      t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
                      ext);
    } else {
        std::string tail = sourceBaseName(sourcePath) + ext;
        std::snprintf(buf.data(), buf.size(), text::kPerFileNameFormat, savePath.c_str(),
                      t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
                      tail.c_str());
    }
    return cut(buf.data());
}

std::string suffixedName(const std::string& name, int k) {
    if (k <= 1) return name;
    size_t slash = name.rfind('/');
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = name.size();
    std::string stem = name.substr(0, dot), ext = name.substr(dot);
    std::string suffix = "_" + std::to_string(k);
    if (stem.size() + suffix.size() + ext.size() > kMaxOutputName)
        stem.resize(kMaxOutputName - suffix.size() - ext.size());
    return stem + suffix + ext;
}

std::string uniqueInJob(JobNames& job, const std::string& name) {
    auto taken = [&](const std::string& n) {
        return std::find(job.given.begin(), job.given.end(), n) != job.given.end();
    };
    std::string result = name;
    for (int k = 2; taken(result); ++k)
        result = suffixedName(name, k);
    job.given.push_back(result);
    return result;
}

namespace {

constexpr int kMaxSuffix = 100000;

bool pathExists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 || errno != ENOENT;
}

// Moves `from` to `to` unless `to` exists (EEXIST then).
int moveNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return -1;
    // A file system without the flag: a hard link fails on an existing name.
    if (::link(from.c_str(), to.c_str()) != 0) return -1;
    ::unlink(from.c_str());
    return 0;
}

} // namespace

FILE* createOutputFile(std::string& name) {
    for (int k = 1; k <= kMaxSuffix; ++k) {
        std::string candidate = suffixedName(name, k);
        if (pathExists(candidate)) continue;
        std::string part = candidate + ".part";
        int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return nullptr;
        }
        FILE* f = ::fdopen(fd, "wb");
        if (!f) {
            int e = errno;
            ::close(fd);
            ::unlink(part.c_str());
            errno = e;
            return nullptr;
        }
        name = candidate;
        return f;
    }
    errno = EEXIST;
    return nullptr;
}

std::string placeOutputFile(const std::string& partName, const std::string& name) {
    for (int k = 1; k <= kMaxSuffix; ++k) {
        std::string candidate = suffixedName(name, k);
        // The ".part" of another output is its name too.
        if (candidate + ".part" != partName && pathExists(candidate + ".part")) continue;
        if (moveNoReplace(partName, candidate) == 0) return candidate;
        if (errno != EEXIST) return std::string();
    }
    errno = EEXIST;
    return std::string();
}

std::string writeFailureReason(int err) {
    if (err == ENOSPC || err == EDQUOT) return text::kReasonDiskFull;
    if (err == EFBIG) return text::kReasonFileTooLarge;
    return std::strerror(err);
}

bool outputIsSource(const std::string& outputName, const std::vector<std::string>& sources) {
    for (const auto& s : sources)
        if (s == outputName || sameFile(s, outputName)) return true;
    return false;
}

} // namespace kestrel
