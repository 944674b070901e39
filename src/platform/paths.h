// Where the program keeps its files.
//
// The program folder holds tavolin.ini, mpginfo.dat and tmp/. It is the
// executable's folder when that is writable, else $XDG_DATA_HOME/kestrel
// (~/.local/share/kestrel), created on demand. KESTREL_HOME or setProgramFolder()
// (the CLI's --home) override it. Run-time libraries are always looked up in the
// executable's folder (or KESTREL_LIB_DIR, or setLibraryFolder()).
#pragma once

#include <string>

namespace kestrel {

std::string executableFolder();                // without a trailing "/"
std::string programFolder();                   // without a trailing "/"
void setProgramFolder(const std::string& dir); // empty: back to the default rules
std::string libraryFolder();                   // without a trailing "/"
void setLibraryFolder(const std::string& dir);

std::string settingsPath(); // programFolder()/tavolin.ini
std::string listFilePath(); // programFolder()/mpginfo.dat
std::string tempFolder();   // programFolder()/tmp
std::string tempWavPath();  // programFolder()/tmp/~tmp.wav

bool isDirectory(const std::string& path);
bool fileExists(const std::string& path);
// Size of a regular file, 0 when it cannot be opened.
unsigned long long fileSize(const std::string& path);
// True when both names lead to the same file (same device and inode).
bool sameFile(const std::string& a, const std::string& b);
bool makeDirectories(const std::string& path);

} // namespace kestrel
