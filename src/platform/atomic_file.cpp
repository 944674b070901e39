#include "platform/atomic_file.h"

#include "platform/paths.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace kestrel {
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

// Opens `path` for writing with `flags` added; null with errno set.
FILE* openStream(const std::string& path, int flags) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, 0666);
    if (fd < 0) return nullptr;
    FILE* f = ::fdopen(fd, "wb");
    if (!f) {
        int e = errno;
        ::close(fd);
        ::unlink(path.c_str());
        errno = e;
    }
    return f;
}

} // namespace

std::string suffixedName(const std::string& name, int k) {
    if (k <= 1) return name;
    size_t slash = name.rfind('/');
    size_t start = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot < start) dot = name.size();
    std::string stem = name.substr(0, dot), ext = name.substr(dot);
    std::string suffix = "_";
    suffix += std::to_string(k);
    size_t keep = stem.size();
    if (keep + suffix.size() + ext.size() > kMaxNameBytes)
        keep = kMaxNameBytes - suffix.size() - ext.size();
    if (keep - start + suffix.size() + ext.size() > kMaxFileNameBytes)
        keep = start + kMaxFileNameBytes - suffix.size() - ext.size();
    while (keep > start && (static_cast<unsigned char>(stem[keep]) & 0xC0) == 0x80)
        --keep;
    stem.resize(keep);
    return stem + suffix + ext;
}

AtomicFile::~AtomicFile() {
    abandon();
}

AtomicFile::AtomicFile(AtomicFile&& other) noexcept {
    *this = std::move(other);
}

AtomicFile& AtomicFile::operator=(AtomicFile&& other) noexcept {
    if (this != &other) {
        abandon();
        mode_ = other.mode_;
        options_ = other.options_;
        stream_ = std::exchange(other.stream_, nullptr);
        asked_ = std::move(other.asked_);
        target_ = std::move(other.target_);
        temp_ = std::exchange(other.temp_, std::string());
        final_ = std::move(other.final_);
        error_ = other.error_;
        keptBeside_ = other.keptBeside_;
    }
    return *this;
}

int AtomicFile::fail(int err) {
    if (error_ == 0) error_ = err ? err : EIO;
    return -1;
}

int AtomicFile::open(const std::string& target, Mode mode) {
    return open(target, mode, Options());
}

int AtomicFile::open(const std::string& target, Mode mode, Options options) {
    abandon();
    mode_ = mode;
    options_ = options;
    asked_ = target;
    target_.clear();
    final_.clear();
    error_ = 0;
    keptBeside_ = false;
    const size_t slash = target.rfind('/');
    // A name no folder can hold is refused as the system would refuse it.
    if (target.size() - (slash == std::string::npos ? 0 : slash + 1) > kMaxFileNameBytes)
        return fail(ENAMETOOLONG);
    removeStaleTempFilesIn(slash == std::string::npos ? "." : target.substr(0, slash + 1));
    if (mode == Mode::Replace) {
        target_ = target;
    } else {
        for (int k = 1; k <= kMaxSuffix && target_.empty(); ++k) {
            std::string candidate = suffixedName(target, k);
            if (!pathExists(candidate)) target_ = candidate;
        }
        if (target_.empty()) return fail(EEXIST);
    }
    // Exclusively: another object of this process may write the same name.
    for (int k = 0; k < 1000; ++k) {
        std::string temp = tempNameFor(target, k);
        stream_ = openStream(temp, O_EXCL);
        if (stream_) {
            temp_ = temp;
            return 0;
        }
        if (errno != EEXIST) break;
    }
    target_.clear();
    return fail(errno);
}

bool AtomicFile::write(const void* data, size_t size) {
    if (!stream_) return fail(EBADF), false;
    if (size == 0) return true;
    if (std::fwrite(data, size, 1, stream_) == 1) return true;
    fail(errno);
    return false;
}

int AtomicFile::close() {
    if (!stream_) return error_ ? -1 : 0;
    FILE* f = std::exchange(stream_, nullptr);
    errno = 0;
    if (std::fflush(f) != 0) fail(errno);
    if (options_.sync && ::fsync(fileno(f)) != 0) fail(errno);
    errno = 0;
    if (std::fclose(f) != 0) fail(errno);
    return error_ ? -1 : 0;
}

FILE* AtomicFile::releaseStream() {
    return std::exchange(stream_, nullptr);
}

int AtomicFile::commit(bool complete) {
    if (temp_.empty()) return fail(EBADF);
    if (mode_ == Mode::Replace) return commitReplace(complete);
    close();
    return placeFree();
}

int AtomicFile::commitReplace(bool complete) {
    const bool closed = close() == 0;
    if (!closed && !options_.output) {
        abandon();
        return -1;
    }
    if (!closed || !complete) {
        // Not whole: it never takes the place of an earlier file.
        return placeFree();
    }
    std::string aside;
    if (options_.moveAside && fileExists(target_)) {
        for (int k = 1000; k < 2000 && aside.empty(); ++k)
            if (!pathExists(tempNameFor(target_, k))) aside = tempNameFor(target_, k);
        if (!aside.empty() && std::rename(target_.c_str(), aside.c_str()) != 0) aside.clear();
    }
    if (std::rename(temp_.c_str(), target_.c_str()) != 0) {
        fail(errno);
        if (!aside.empty()) std::rename(aside.c_str(), target_.c_str());
        abandon();
        return -1;
    }
    if (!aside.empty()) ::unlink(aside.c_str());
    final_ = target_;
    temp_.clear();
    return 0;
}

int AtomicFile::placeFree() {
    const int closeError = error_;
    for (int k = 1; k <= kMaxSuffix; ++k) {
        std::string candidate = suffixedName(asked_, k);
        if (moveNoReplace(temp_, candidate) == 0) {
            final_ = candidate;
            keptBeside_ = k > 1;
            temp_.clear();
            return closeError ? -1 : 0;
        }
        if (errno != EEXIST) break;
    }
    fail(errno);
    final_ = std::exchange(temp_, std::string()); // the caller reports where it is
    return -1;
}

void AtomicFile::abandon() {
    if (stream_) std::fclose(std::exchange(stream_, nullptr));
    if (!temp_.empty()) ::unlink(temp_.c_str());
    temp_.clear();
}

} // namespace kestrel
