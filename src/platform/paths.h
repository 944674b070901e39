// Where the program keeps its files.
//
// The program folder holds tavolin.ini, mpginfo.dat and tmp/. In a build tree
// it is the executable's folder when that is writable, else
// $XDG_DATA_HOME/kestrel (~/.local/share/kestrel), created on demand; an
// installed copy always uses the latter. KESTREL_HOME or setProgramFolder()
// (the CLI's --home) override it. Run-time libraries are looked up in the
// executable's folder, or in an installed copy in its private library folder
// (KESTREL_LIB_DIR or setLibraryFolder() override both).
#pragma once

#include <cstdio>
#include <string>

namespace kestrel {

std::string executableFolder(); // without a trailing "/"
// An installed copy is one whose private library folder (known at build time
// relative to the executables' folder, e.g. ../lib/kestrel) exists.
bool isInstalledCopy();
std::string installedLibraryFolder();          // "" in a build tree
std::string programFolder();                   // without a trailing "/"
void setProgramFolder(const std::string& dir); // empty: back to the default rules
std::string libraryFolder();                   // without a trailing "/"
void setLibraryFolder(const std::string& dir);

std::string settingsPath(); // programFolder()/tavolin.ini
std::string listFilePath(); // programFolder()/mpginfo.dat
std::string tempFolder();   // programFolder()/tmp
std::string tempWavPath();  // programFolder()/tmp/~tmp.<host>.<pid>.wav

// The longest name of one folder entry the file systems allow, in bytes.
inline constexpr size_t kMaxFileNameBytes = 255;

// Temporary files carry the host name and the process id, so that a later
// start can tell the ones a killed run left behind from those of a run still
// at work (possibly on another host sharing the folder).
std::string runTag(); // "<host>.<pid>"
// The temporary name a file is written under before it takes `path`'s name:
// hidden, in the same folder, "." + name + ["~" k] + "." + runTag() + ".part",
// the name cut (on a character boundary) so that the whole is a legal name
// for any legal `path`.
std::string tempNameFor(const std::string& path, int k = 0);
// Removes the temporary files (tempNameFor) that runs of this host that are
// gone left in `dir`. Returns how many were removed.
int removeStaleTempFilesIn(const std::string& dir);
// The same for the program folder, and every tagged file or folder (a batch's
// working folder) in its tmp/.
int removeStaleTempFiles();

bool isDirectory(const std::string& path);
bool fileExists(const std::string& path);
// Size of a regular file, 0 when it cannot be opened.
unsigned long long fileSize(const std::string& path);
// True when both names lead to the same file (same device and inode).
bool sameFile(const std::string& a, const std::string& b);
bool makeDirectories(const std::string& path);

// An absolute form of `path` for storing: a relative path is joined to the
// current folder as the shell names it ($PWD when it is that folder), "." and
// empty components are dropped and "name/.." only where name is no symbolic
// link; symbolic links are never resolved.
std::string absolutePath(const std::string& path);

// What a source path names. A FIFO, a device or a socket would block or never
// end, so readers refuse anything but a regular file before they read.
enum class SourceKind {
    Regular,
    Empty, // a regular file of 0 bytes
    Directory,
    Fifo,
    CharDevice,
    BlockDevice,
    Socket,
    OtherType,
    CannotOpen, // `error` holds the system's reason
};
struct SourceCheck {
    SourceKind kind = SourceKind::CannotOpen;
    int error = 0;               // errno when kind is CannotOpen
    unsigned long long size = 0; // bytes, for a regular file
};
// Checks without blocking: stat first, then a non-blocking open of a regular
// file to learn whether it can be read.
SourceCheck checkSource(const std::string& path);
// Opens a regular file for binary reading; never blocks on a FIFO. nullptr
// (errno set) when it cannot be opened or is not a regular file.
FILE* openSource(const std::string& path);

} // namespace kestrel
