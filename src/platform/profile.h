// Private-profile (INI) access as the settings store uses it.
//
// One file, sections "[name]" and "key=value" lines. Texts in the program are
// UTF-8; the file's bytes are GB18030, which is byte for byte GBK (code page
// 936) for every character GBK has and holds every other Unicode character in
// four bytes, so a path with "ö" or an emoji reads back as it was written. Lines end in CRLF when
// written; CRLF and LF are both read. Section and key names match byte for
// byte. A UTF-8 byte-order mark is skipped and a file saved as UTF-8 is read
// as such (and written back as GB18030); in a file that lacks the section's
// line, the keys in front of every section line are the section's. Writing a
// key keeps every other line of the file and creates the file (and the
// section) when missing; the file is replaced through a temporary file and a
// rename, so a failed write never leaves half a file. Reads hold a shared
// lock, a write an exclusive one from its read to its rename (FileLock);
// anything but a regular file is neither read nor written.
#pragma once

#include <string>

namespace kestrel {

// The integer at `key`: a missing key gives `fallback`; otherwise the value's
// leading decimal digits (with an optional sign), or 0 when there are none.
int getPrivateProfileInt(const std::string& section, const std::string& key, int fallback,
                         const std::string& file);

// The text at `key`, cut to `size` - 1 bytes (size counts the terminator, as
// the platform's buffer does); `fallback` when the key is missing.
std::string getPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& fallback, size_t size,
                                    const std::string& file);

// True when the file holds `key` in `section`.
bool hasPrivateProfileKey(const std::string& section, const std::string& key,
                          const std::string& file);

// Writes `key=value`; false (errno set) when the file could not be written.
bool writePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& file);

// True when `s` is well-formed UTF-8 (ASCII included).
bool isValidUtf8(const std::string& s);

// GB18030 <-> UTF-8. A text that does not convert is kept as it is.
std::string gb18030ToUtf8(const std::string& gb);
std::string utf8ToGb18030(const std::string& utf8);

// The longest head of a GB18030 text that has at most `maxBytes` bytes and
// does not end inside a character (one, two or four bytes).
std::string cutGb18030(const std::string& gb, size_t maxBytes);

} // namespace kestrel
