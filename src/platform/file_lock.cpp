#include "platform/file_lock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel {

FileLock::~FileLock() {
    unlock();
}

void FileLock::unlock() {
    if (fd_ >= 0) ::close(fd_); // closing lets go of the lock
    fd_ = -1;
}

int FileLock::lock(const std::string& path, Kind kind) {
    unlock();
    error_ = 0;
    notRegular_ = false;
    created_ = false;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        struct stat st;
        if (::stat(path.c_str(), &st) != 0) {
            if (errno != ENOENT) return error_ = errno, kFailed;
            if (kind == Kind::Shared) return kMissing;
        } else if (!S_ISREG(st.st_mode)) {
            // Never opened: a FIFO would block, a device may act on an open.
            notRegular_ = true;
            return error_ = S_ISDIR(st.st_mode) ? EISDIR : EINVAL, kFailed;
        }
        bool madeIt = false;
        int fd = -1;
        if (kind == Kind::Exclusive) {
            fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            madeIt = fd >= 0;
            if (fd < 0 && errno != EEXIST) return error_ = errno, kFailed;
        }
        if (fd < 0) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) {
            if (errno == ENOENT) continue; // gone meanwhile
            return error_ = errno, kFailed;
        }
        struct stat own;
        if (::fstat(fd, &own) != 0 || !S_ISREG(own.st_mode)) {
            ::close(fd);
            notRegular_ = true;
            return error_ = EINVAL, kFailed;
        }
        int rc;
        while ((rc = ::flock(fd, kind == Kind::Shared ? LOCK_SH : LOCK_EX)) != 0 &&
               errno == EINTR) {
        }
        if (rc != 0) {
            error_ = errno;
            ::close(fd);
            return kFailed;
        }
        // The name must still lead to the file that is locked.
        struct stat now;
        if (::stat(path.c_str(), &now) != 0 || now.st_ino != own.st_ino ||
            now.st_dev != own.st_dev) {
            ::close(fd);
            continue;
        }
        fd_ = fd;
        created_ = madeIt;
        return kLocked;
    }
    return error_ = EAGAIN, kFailed;
}

const char* notRegularFileKind(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return nullptr;
    if (S_ISDIR(st.st_mode)) return "a folder";
    if (S_ISFIFO(st.st_mode)) return "a FIFO";
    if (S_ISSOCK(st.st_mode)) return "a socket";
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return "a device";
    return "not a regular file";
}

bool readWholeFile(int fd, std::string& out) {
    out.clear();
    char buf[65536];
    off_t at = 0;
    for (;;) {
        ssize_t n = ::pread(fd, buf, sizeof buf, at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        out.append(buf, static_cast<size_t>(n));
        at += n;
    }
}

} // namespace kestrel
