// Locks on the files the program keeps (the list and the settings), so that
// two processes never lose each other's changes.
//
// Readers hold a shared lock while they read, writers an exclusive one from
// their read through the rename of the new file (AtomicFile). The lock is an
// flock on the file itself: a writer that waited for it checks that the name
// still leads to the file it locked (another writer may have renamed a new
// one over it meanwhile) and locks the new one instead.
//
// Only regular files are locked and read: a folder, a FIFO or a device under
// the file's name is refused without blocking.
#pragma once

#include <string>

namespace kestrel {

class FileLock {
  public:
    enum class Kind { Shared, Exclusive };
    enum Result {
        kLocked = 0,
        kMissing = 1, // Shared: no file of that name, nothing to lock
        kFailed = -1, // error() tells why; ENOTREG-like cases give notRegular()
    };

    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Locks `path`. Exclusive creates an empty file when there is none (and
    // created() tells so, for the writer to remove it should it fail).
    int lock(const std::string& path, Kind kind);
    void unlock();

    int fd() const { return fd_; }
    int error() const { return error_; }
    // The name leads to something other than a regular file.
    bool notRegular() const { return notRegular_; }
    bool created() const { return created_; }

  private:
    int fd_ = -1;
    int error_ = 0;
    bool notRegular_ = false;
    bool created_ = false;
};

// What a kept file's name leads to, for a message: 0 for a regular file or
// none, else a short English description ("a folder", "a FIFO", ...).
const char* notRegularFileKind(const std::string& path);

// Reads a whole regular file through `fd` from its start. False (errno set)
// on a read failure.
bool readWholeFile(int fd, std::string& out);

} // namespace kestrel
