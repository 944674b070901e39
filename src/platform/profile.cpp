#include "platform/profile.h"

#include "platform/atomic_file.h"
#include "platform/file_lock.h"

#include <cerrno>
#include <cstdio>
#include <iconv.h>
#include <iterator>
#include <unistd.h>
#include <vector>

namespace kestrel {
namespace {

std::string convert(const std::string& in, const char* to, const char* from) {
    if (in.empty()) return in;
    iconv_t cd = ::iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return in;
    std::string out(in.size() * 4 + 16, '\0');
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char* dst = out.data();
    size_t dstLeft = out.size();
    size_t rc = ::iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    ::iconv_close(cd);
    if (rc == static_cast<size_t>(-1) || srcLeft != 0) return in;
    out.resize(out.size() - dstLeft);
    return out;
}

bool isUtf8(const std::string& s, bool* nonAscii) {
    *nonAscii = false;
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n = c < 0x80             ? 1
                   : (c & 0xE0) == 0xC0 ? 2
                   : (c & 0xF0) == 0xE0 ? 3
                   : (c & 0xF8) == 0xF0 ? 4
                                        : 0;
        if (n == 0 || (n == 2 && c < 0xC2) || i + n > s.size()) return false;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        if (n > 1) *nonAscii = true;
        i += n;
    }
    return true;
}

// The file's text in GB18030: a UTF-8 byte-order mark goes, and a file an
// editor saved as UTF-8 (valid UTF-8 holding non-ASCII text, which GBK text
// practically never is) is converted.
std::string asGb18030(std::string all) {
    bool bom = all.size() >= 3 && all.compare(0, 3, "\xEF\xBB\xBF") == 0;
    if (bom) all.erase(0, 3);
    bool nonAscii = false;
    if ((bom || isUtf8(all, &nonAscii)) && (bom || nonAscii))
        all = convert(all, "GB18030", "UTF-8");
    return all;
}

std::vector<std::string> splitLines(const std::string& all) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < all.size()) {
        size_t nl = all.find('\n', pos);
        std::string line = all.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        if (nl == std::string::npos) break;
        pos = nl + 1;
    }
    return lines;
}

// Reads the lines of `file` under a shared lock; nothing when it is missing
// or cannot be read (not a regular file).
std::vector<std::string> readLines(const std::string& file) {
    FileLock lock;
    std::string all;
    if (lock.lock(file, FileLock::Kind::Shared) != FileLock::kLocked ||
        !readWholeFile(lock.fd(), all))
        return {};
    return splitLines(asGb18030(all));
}

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

bool isSectionLine(const std::string& line, std::string* name) {
    std::string t = trim(line);
    if (t.size() < 2 || t.front() != '[') return false;
    size_t close = t.find(']');
    if (close == std::string::npos) return false;
    *name = t.substr(1, close - 1);
    return true;
}

// Splits "key=value"; false for lines without "=" (comments, blanks).
bool splitKey(const std::string& line, std::string* key, std::string* value) {
    size_t eq = line.find('=');
    if (eq == std::string::npos) return false;
    std::string t = trim(line.substr(0, eq));
    if (!t.empty() && t[0] == ';') return false;
    *key = t;
    *value = trim(line.substr(eq + 1));
    return true;
}

// True when `lines` have a section line named `sec`.
bool hasSection(const std::vector<std::string>& lines, const std::string& sec) {
    for (const auto& line : lines) {
        std::string name;
        if (isSectionLine(line, &name) && name == sec) return true;
    }
    return false;
}

// Finds the value of key in section (GBK names); false when missing. In a
// file without the section's line, the keys in front of every section line
// are read as the section's (a file whose first line was lost).
bool lookup(const std::string& section, const std::string& key, const std::string& file,
            std::string* value) {
    auto lines = readLines(file);
    std::string sec = utf8ToGb18030(section), k = utf8ToGb18030(key);
    bool inSection = !hasSection(lines, sec);
    for (const auto& line : lines) {
        std::string name;
        if (isSectionLine(line, &name)) {
            inSection = name == sec;
            continue;
        }
        std::string lk, lv;
        if (inSection && splitKey(line, &lk, &lv) && lk == k) {
            // A value in double quotes loses them, as the platform does.
            if (lv.size() >= 2 && lv.front() == '"' && lv.back() == '"')
                lv = lv.substr(1, lv.size() - 2);
            *value = lv;
            return true;
        }
    }
    return false;
}

} // namespace

bool isValidUtf8(const std::string& s) {
    bool nonAscii = false;
    return isUtf8(s, &nonAscii);
}

std::string gb18030ToUtf8(const std::string& gb) {
    return convert(gb, "UTF-8", "GB18030");
}
std::string utf8ToGb18030(const std::string& utf8) {
    return convert(utf8, "GB18030", "UTF-8");
}

std::string cutGb18030(const std::string& gb, size_t maxBytes) {
    size_t keep = 0;
    for (size_t i = 0; i < gb.size();) {
        auto at = [&](size_t k) { return k < gb.size() ? static_cast<unsigned char>(gb[k]) : 0; };
        size_t n = 1;
        if (at(i) >= 0x81 && at(i) <= 0xFE) n = (at(i + 1) >= 0x30 && at(i + 1) <= 0x39) ? 4 : 2;
        if (i + n > maxBytes || i + n > gb.size()) break;
        i += n;
        keep = i;
    }
    return gb.substr(0, keep);
}

int getPrivateProfileInt(const std::string& section, const std::string& key, int fallback,
                         const std::string& file) {
    std::string v;
    if (!lookup(section, key, file, &v)) return fallback;
    size_t i = 0;
    bool neg = false;
    if (i < v.size() && (v[i] == '-' || v[i] == '+')) neg = v[i++] == '-';
    long long n = 0;
    bool any = false;
    for (; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i) {
        any = true;
        if (n < 10000000000LL) n = n * 10 + (v[i] - '0');
    }
    if (!any) return 0;
    if (neg) n = -n;
    // Values past the 32-bit range wrap as the platform's parser does.
    return static_cast<int>(static_cast<unsigned int>(static_cast<unsigned long long>(n)));
}

std::string getPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& fallback, size_t size,
                                    const std::string& file) {
    std::string v;
    if (!lookup(section, key, file, &v)) v = utf8ToGb18030(fallback);
    if (size == 0) return "";
    // Never leave part of a character behind.
    if (v.size() > size - 1) v = cutGb18030(v, size - 1);
    return gb18030ToUtf8(v);
}

bool hasPrivateProfileKey(const std::string& section, const std::string& key,
                          const std::string& file) {
    std::string v;
    return lookup(section, key, file, &v);
}

bool writePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& file) {
    // Read, changed and replaced under the lock: a change of another process
    // is never lost.
    FileLock lock;
    if (lock.lock(file, FileLock::Kind::Exclusive) != FileLock::kLocked) {
        errno = lock.error();
        return false;
    }
    std::string all;
    if (!readWholeFile(lock.fd(), all)) return false;
    auto lines = splitLines(asGb18030(all));
    std::string sec = utf8ToGb18030(section), k = utf8ToGb18030(key), v = utf8ToGb18030(value);
    std::string entry = k + "=" + v;
    if (!hasSection(lines, sec)) {
        // Keys in front of every section line are the section's: its line
        // goes above them.
        bool orphans = false;
        for (const auto& line : lines) {
            std::string name, lk, lv;
            if (isSectionLine(line, &name)) break;
            orphans = orphans || splitKey(line, &lk, &lv);
        }
        if (orphans) lines.insert(lines.begin(), "[" + sec + "]");
    }
    bool inSection = false, done = false;
    long sectionStart = -1, lastKeyLine = -1;
    for (size_t i = 0; i < lines.size() && !done; ++i) {
        std::string name;
        if (isSectionLine(lines[i], &name)) {
            if (inSection) break; // end of our section
            inSection = name == sec;
            if (inSection) sectionStart = static_cast<long>(i);
            continue;
        }
        std::string lk, lv;
        if (inSection && splitKey(lines[i], &lk, &lv)) {
            lastKeyLine = static_cast<long>(i);
            if (lk == k) {
                lines[i] = entry;
                done = true;
            }
        }
    }
    if (!done) {
        if (sectionStart < 0) {
            lines.push_back("[" + sec + "]");
            lines.push_back(entry);
        } else {
            long at = lastKeyLine >= 0 ? lastKeyLine + 1 : sectionStart + 1;
            lines.insert(lines.begin() + at, entry);
        }
    }
    std::string text;
    for (const auto& l : lines)
        text += l + "\r\n";
    AtomicFile out;
    if (out.open(file, AtomicFile::Mode::Replace) == 0 && out.write(text.data(), text.size()) &&
        out.commit() == 0)
        return true;
    // The reason, never a stale errno.
    const int e = out.error() ? out.error() : EIO;
    if (lock.created()) ::unlink(file.c_str());
    errno = e;
    return false;
}

} // namespace kestrel
