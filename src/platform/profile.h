// Private-profile (INI) access as the settings store uses it.
//
// One file, sections "[name]" and "key=value" lines. Texts in the program are
// UTF-8; the file's bytes are GBK (code page 936). Lines end in CRLF when
// written; CRLF and LF are both read. Section and key names match byte for
// byte. Writing a key keeps every other line of the file and creates the file
// (and the section) when missing; the file is replaced through a temporary
// file and a rename, so a failed write never leaves half a file.
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

// Writes `key=value`; false when the file could not be written.
bool writePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& file);

// GBK <-> UTF-8. Bytes that do not convert are kept as they are.
std::string gbkToUtf8(const std::string& gbk);
std::string utf8ToGbk(const std::string& utf8);

} // namespace kestrel
