#include "platform/profile.h"

#include "platform/atomic_file.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iconv.h>
#include <iterator>
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

std::vector<std::string> readLines(const std::string& file, bool* exists) {
    std::vector<std::string> lines;
    std::ifstream f(file, std::ios::binary);
    *exists = static_cast<bool>(f);
    if (!f) return lines;
    std::string all((std::istreambuf_iterator<char>(f)), {});
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

// Finds the value of key in section (GBK names); false when missing.
bool lookup(const std::string& section, const std::string& key, const std::string& file,
            std::string* value) {
    bool exists = false;
    auto lines = readLines(file, &exists);
    std::string sec = utf8ToGb18030(section), k = utf8ToGb18030(key);
    bool inSection = false;
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

bool writePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& file) {
    bool exists = false;
    auto lines = readLines(file, &exists);
    std::string sec = utf8ToGb18030(section), k = utf8ToGb18030(key), v = utf8ToGb18030(value);
    std::string entry = k + "=" + v;
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
    return out.open(file, AtomicFile::Mode::Replace) == 0 && out.write(text.data(), text.size()) &&
           out.commit() == 0;
}

} // namespace kestrel
