#include "engine/containers/media_tags.h"

#include "platform/media_metadata.h"
#include "platform/profile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/stat.h>

namespace kestrel {

namespace {

// The largest tag or `moov` atom read into memory (a cover included).
constexpr uint64_t kMaxTagBytes = 64u << 20;

const char* const kGenres[] = {"Blues",
                               "Classic Rock",
                               "Country",
                               "Dance",
                               "Disco",
                               "Funk",
                               "Grunge",
                               "Hip-Hop",
                               "Jazz",
                               "Metal",
                               "New Age",
                               "Oldies",
                               "Other",
                               "Pop",
                               "R&B",
                               "Rap",
                               "Reggae",
                               "Rock",
                               "Techno",
                               "Industrial",
                               "Alternative",
                               "Ska",
                               "Death Metal",
                               "Pranks",
                               "Soundtrack",
                               "Euro-Techno",
                               "Ambient",
                               "Trip-Hop",
                               "Vocal",
                               "Jazz+Funk",
                               "Fusion",
                               "Trance",
                               "Classical",
                               "Instrumental",
                               "Acid",
                               "House",
                               "Game",
                               "Sound Clip",
                               "Gospel",
                               "Noise",
                               "AlternRock",
                               "Bass",
                               "Soul",
                               "Punk",
                               "Space",
                               "Meditative",
                               "Instrumental Pop",
                               "Instrumental Rock",
                               "Ethnic",
                               "Gothic",
                               "Darkwave",
                               "Techno-Industrial",
                               "Electronic",
                               "Pop-Folk",
                               "Eurodance",
                               "Dream",
                               "Southern Rock",
                               "Comedy",
                               "Cult",
                               "Gangsta",
                               "Top 40",
                               "Christian Rap",
                               "Pop/Funk",
                               "Jungle",
                               "Native American",
                               "Cabaret",
                               "New Wave",
                               "Psychadelic",
                               "Rave",
                               "Showtunes",
                               "Trailer",
                               "Lo-Fi",
                               "Tribal",
                               "Acid Punk",
                               "Acid Jazz",
                               "Polka",
                               "Retro",
                               "Musical",
                               "Rock & Roll",
                               "Hard Rock"};

uint32_t be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
uint64_t be64(const uint8_t* p) {
    return uint64_t(be32(p)) << 32 | be32(p + 4);
}
// A sync-safe 28-bit integer; -1 when a byte has its top bit set.
int64_t syncsafe(const uint8_t* p) {
    if ((p[0] | p[1] | p[2] | p[3]) & 0x80) return -1;
    return int64_t(p[0]) << 21 | int64_t(p[1]) << 14 | int64_t(p[2]) << 7 | p[3];
}

void putUtf8(std::string& s, uint32_t c) {
    if (c < 0x80) {
        s += char(c);
    } else if (c < 0x800) {
        s += char(0xC0 | c >> 6);
        s += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        s += char(0xE0 | c >> 12);
        s += char(0x80 | (c >> 6 & 0x3F));
        s += char(0x80 | (c & 0x3F));
    } else {
        s += char(0xF0 | c >> 18);
        s += char(0x80 | (c >> 12 & 0x3F));
        s += char(0x80 | (c >> 6 & 0x3F));
        s += char(0x80 | (c & 0x3F));
    }
}

std::string utf16ToUtf8(const uint8_t* p, size_t n, bool bigEndian) {
    std::string s;
    for (size_t i = 0; i + 1 < n; i += 2) {
        uint32_t u = bigEndian ? (p[i] << 8 | p[i + 1]) : (p[i + 1] << 8 | p[i]);
        if (u >= 0xD800 && u < 0xDC00 && i + 3 < n) {
            uint32_t v = bigEndian ? (p[i + 2] << 8 | p[i + 3]) : (p[i + 3] << 8 | p[i + 2]);
            if (v >= 0xDC00 && v < 0xE000) {
                u = 0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00);
                i += 2;
            } else {
                u = 0xFFFD;
            }
        } else if (u >= 0xD800 && u < 0xE000) {
            u = 0xFFFD;
        }
        putUtf8(s, u);
    }
    return s;
}

// Keeps well-formed UTF-8 and replaces every other byte with U+FFFD.
std::string cleanUtf8(const std::string& in) {
    std::string s;
    size_t i = 0;
    while (i < in.size()) {
        const auto c = static_cast<uint8_t>(in[i]);
        size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        bool ok = len > 0 && i + len <= in.size() && !(len == 2 && c < 0xC2);
        for (size_t k = 1; ok && k < len; ++k)
            ok = (static_cast<uint8_t>(in[i + k]) & 0xC0) == 0x80;
        if (ok) {
            s.append(in, i, len);
            i += len;
        } else {
            s += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return s;
}

std::string trimText(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0'))
        s.pop_back();
    size_t b = 0;
    while (b < s.size() && s[b] == ' ')
        ++b;
    return s.substr(b);
}

// "3/12" -> 3 and 12.
void parsePair(const std::string& s, int& first, int& second) {
    int a = 0, b = 0;
    if (std::sscanf(s.c_str(), "%d/%d", &a, &b) >= 1) {
        first = std::clamp(a, 0, 99999);
        second = std::clamp(b, 0, 99999);
    }
}

// ID3v2 "(17)", "(17)Rock" or "17" -> the name; other texts as they are.
std::string genreText(const std::string& s) {
    int n = -1;
    char rest = 0;
    if (std::sscanf(s.c_str(), "(%d)%c", &n, &rest) >= 1 && rest == 0) {
        if (const char* g = id3v1Genre(n); *g) return g;
    } else if (std::sscanf(s.c_str(), "%d%c", &n, &rest) == 1) {
        if (const char* g = id3v1Genre(n); *g) return g;
    } else if (s.size() > 2 && s[0] == '(' && s.find(')') != std::string::npos) {
        return s.substr(s.find(')') + 1);
    }
    return s;
}

// ---- ID3v2 -------------------------------------------------------------

enum class Field { None, Title, Artist, Album, AlbumArtist, Track, Disc, Year, Genre, Comment };

struct RawText {
    Field field;
    int encoding;
    std::string bytes; // the text's bytes after the encoding byte (and COMM's header)
};

Field fieldOf(const char* id, bool v22) {
    struct Map {
        const char* v23;
        const char* v22;
        Field f;
    };
    static const Map maps[] = {{"TIT2", "TT2", Field::Title}, {"TPE1", "TP1", Field::Artist},
                               {"TALB", "TAL", Field::Album}, {"TPE2", "TP2", Field::AlbumArtist},
                               {"TRCK", "TRK", Field::Track}, {"TPOS", "TPA", Field::Disc},
                               {"TYER", "TYE", Field::Year},  {"TDRC", nullptr, Field::Year},
                               {"TCON", "TCO", Field::Genre}, {"COMM", "COM", Field::Comment}};
    for (const auto& m : maps) {
        const char* want = v22 ? m.v22 : m.v23;
        if (want && std::strncmp(id, want, v22 ? 3 : 4) == 0) return m.f;
    }
    return Field::None;
}

// Removes the unsynchronisation bytes (a 0x00 after each 0xFF).
std::vector<uint8_t> resync(const uint8_t* p, size_t n) {
    std::vector<uint8_t> out;
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        out.push_back(p[i]);
        if (p[i] == 0xFF && i + 1 < n && p[i + 1] == 0x00) ++i;
    }
    return out;
}

// The end of the string of `encoding` that starts at `p` (its terminator
// excluded), and where the next one starts.
size_t stringEnd(const uint8_t* p, size_t n, int encoding, size_t& next) {
    if (encoding == 1 || encoding == 2) {
        for (size_t i = 0; i + 1 < n; i += 2)
            if (p[i] == 0 && p[i + 1] == 0) return next = i + 2, i;
        return next = n, n & ~size_t(1);
    }
    for (size_t i = 0; i < n; ++i)
        if (p[i] == 0) return next = i + 1, i;
    return next = n, n;
}

// A text of encoding 1 (UTF-16 with or without its byte order mark), 2
// (UTF-16BE) or 3 (UTF-8) as UTF-8. One without a mark is read in the byte
// order its first character suggests (little-endian when in doubt).
std::string unicodeText(const uint8_t* p, size_t n, int encoding) {
    if (encoding == 3) return cleanUtf8(std::string(reinterpret_cast<const char*>(p), n));
    bool big = encoding == 2;
    if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
        p += 2, n -= 2, big = false;
    } else if (n >= 2 && p[0] == 0xFE && p[1] == 0xFF) {
        p += 2, n -= 2, big = true;
    } else if (encoding == 1 && n >= 2) {
        big = p[0] == 0 && p[1] != 0;
    }
    return utf16ToUtf8(p, n, big);
}

// Every string of a text frame's value, decoded (Latin-1 ones as bytes),
// joined with " / ".
std::string joinValues(const std::string& raw, int encoding, bool latin1Bytes) {
    const auto* p = reinterpret_cast<const uint8_t*>(raw.data());
    size_t n = raw.size(), at = 0;
    std::string out;
    while (at < n) {
        size_t next = 0;
        size_t end = stringEnd(p + at, n - at, encoding, next);
        std::string one =
            latin1Bytes ? std::string(raw, at, end) : unicodeText(p + at, end, encoding);
        one = trimText(one);
        if (!one.empty()) out += (out.empty() ? "" : " / ") + one;
        at += next;
    }
    return out;
}

void setField(MediaTags& t, Field f, const std::string& v) {
    if (v.empty()) return;
    switch (f) {
    case Field::Title:
        t.title = v;
        break;
    case Field::Artist:
        t.artist = v;
        break;
    case Field::Album:
        t.album = v;
        break;
    case Field::AlbumArtist:
        t.albumArtist = v;
        break;
    case Field::Track:
        parsePair(v, t.track, t.trackTotal);
        break;
    case Field::Disc:
        parsePair(v, t.disc, t.discTotal);
        break;
    case Field::Year:
        t.year = v.substr(0, v.find('-'));
        break;
    case Field::Genre:
        t.genre = genreText(v);
        break;
    case Field::Comment:
        t.comment = v;
        break;
    case Field::None:
        break;
    }
}

// Decodes the gathered texts: the Latin-1 ones by one charset for the tag.
void applyTexts(const std::vector<RawText>& texts, TagCharset charset, MediaTags& out) {
    if (charset == TagCharset::Auto) {
        std::vector<std::string> legacy;
        for (const auto& t : texts)
            if (t.encoding == 0) legacy.push_back(t.bytes);
        charset = guessLegacyCharset(legacy);
    }
    for (const auto& t : texts) {
        std::string v = t.encoding == 0 ? legacyToUtf8(joinValues(t.bytes, 0, true), charset)
                                        : joinValues(t.bytes, t.encoding, false);
        setField(out, t.field, v);
    }
}

// A COMM/COM frame: the comment without a description (or the first one).
bool commentText(const uint8_t* p, size_t n, RawText& out) {
    if (n < 4) return false;
    int enc = p[0];
    size_t next = 0;
    std::string desc(reinterpret_cast<const char*>(p + 4), stringEnd(p + 4, n - 4, enc, next));
    // iTunes keeps values of its own in comments described "iTun...".
    if (desc.rfind("iTun", 0) == 0) return false;
    out.encoding = enc;
    out.bytes.assign(reinterpret_cast<const char*>(p + 4 + next), n - 4 - next);
    return true;
}

// An APIC/PIC frame's picture, the front cover preferred.
void readPicture(const uint8_t* p, size_t n, bool v22, MediaTags& out, bool& haveFront) {
    if (n < 6) return;
    int enc = p[0];
    size_t at = 1;
    std::string mime;
    if (v22) {
        std::string fmt(reinterpret_cast<const char*>(p + 1), 3);
        mime = fmt == "PNG" ? "image/png" : "image/jpeg";
        at = 4;
    } else {
        size_t next = 0;
        size_t end = stringEnd(p + 1, n - 1, 0, next);
        mime.assign(reinterpret_cast<const char*>(p + 1), end);
        at = 1 + next;
        if (mime.empty() || mime == "-->") return;
        if (mime.find('/') == std::string::npos) mime = "image/" + mime;
        for (char& c : mime)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (mime == "image/jpg") mime = "image/jpeg";
    }
    if (at >= n) return;
    const int type = p[at++];
    size_t next = 0;
    stringEnd(p + at, n - at, enc, next);
    at += next;
    if (at >= n) return;
    if (haveFront || (!out.cover.empty() && type != 3)) return;
    out.cover.assign(p + at, p + n);
    out.coverMime = mime;
    haveFront = type == 3;
}

// ---- ID3v1 / legacy text ---------------------------------------------

// The GB18030 character at `p` (n bytes left): its length, or 0 when not a
// well-formed one. `gb2312` tells whether it lies in the GB2312 area.
size_t gbChar(const uint8_t* p, size_t n, bool& gb2312) {
    gb2312 = false;
    if (p[0] < 0x80) return 1;
    if (p[0] == 0x80 || p[0] == 0xFF || n < 2) return 0;
    if (p[1] >= 0x30 && p[1] <= 0x39) {
        if (n < 4 || p[2] < 0x81 || p[2] > 0xFE || p[3] < 0x30 || p[3] > 0x39) return 0;
        return 4;
    }
    if (p[1] < 0x40 || p[1] == 0x7F || p[1] == 0xFF) return 0;
    gb2312 = p[0] >= 0xA1 && p[1] >= 0xA1;
    return 2;
}

} // namespace

bool MediaTags::empty() const {
    return title.empty() && artist.empty() && album.empty() && albumArtist.empty() &&
           year.empty() && genre.empty() && comment.empty() && track == 0 && disc == 0 &&
           cover.empty();
}

void MediaTags::fillFrom(const MediaTags& o) {
    auto fill = [](std::string& a, const std::string& b) {
        if (a.empty()) a = b;
    };
    fill(title, o.title);
    fill(artist, o.artist);
    fill(album, o.album);
    fill(albumArtist, o.albumArtist);
    fill(year, o.year);
    fill(genre, o.genre);
    fill(comment, o.comment);
    if (track == 0) track = o.track, trackTotal = o.trackTotal;
    if (disc == 0) disc = o.disc, discTotal = o.discTotal;
    if (cover.empty()) cover = o.cover, coverMime = o.coverMime;
}

const char* id3v1Genre(int index) {
    constexpr int n = sizeof kGenres / sizeof kGenres[0];
    return index >= 0 && index < n ? kGenres[index] : "";
}

TagCharset guessLegacyCharset(const std::vector<std::string>& texts) {
    size_t wide = 0, gb2312 = 0, high = 0, alone = 0;
    for (const auto& s : texts) {
        const auto* p = reinterpret_cast<const uint8_t*>(s.data());
        const size_t n = s.size();
        for (size_t i = 0; i < n; ++i) {
            if (p[i] < 0x80) continue;
            ++high;
            if ((i == 0 || p[i - 1] < 0x80) && (i + 1 == n || p[i + 1] < 0x80)) ++alone;
        }
        for (size_t i = 0; i < n;) {
            bool area = false;
            size_t len = gbChar(p + i, n - i, area);
            if (len == 0) return TagCharset::Latin1;
            if (len > 1) ++wide;
            if (area) ++gb2312;
            i += len;
        }
    }
    if (high == 0 || alone == high) return TagCharset::Latin1;
    return gb2312 * 2 > wide ? TagCharset::Gb18030 : TagCharset::Latin1;
}

std::string legacyToUtf8(const std::string& bytes, TagCharset charset) {
    if (charset == TagCharset::Gb18030) {
        std::string u = gb18030ToUtf8(bytes);
        if (u != bytes || std::all_of(bytes.begin(), bytes.end(),
                                      [](char c) { return static_cast<uint8_t>(c) < 0x80; }))
            return cleanUtf8(u);
    }
    std::string s;
    for (char c : bytes)
        putUtf8(s, static_cast<uint8_t>(c));
    return s;
}

bool parseId3v2(const uint8_t* bytes, size_t size, TagCharset charset, MediaTags& out) {
    if (size < 10 || std::memcmp(bytes, "ID3", 3) != 0) return false;
    const int version = bytes[3];
    const int flags = bytes[5];
    const int64_t tagSize = syncsafe(bytes + 6);
    if (version < 2 || version > 4 || tagSize < 0 || uint64_t(tagSize) > size - 10) return false;
    const bool v22 = version == 2;
    if (v22 && (flags & 0x40)) return false; // compressed: no way to read it
    std::vector<uint8_t> body(bytes + 10, bytes + 10 + tagSize);
    if ((flags & 0x80) && version < 4) body = resync(body.data(), body.size());
    size_t at = 0;
    if ((flags & 0x40) && !v22) {
        if (body.size() < 4) return false;
        const int64_t ext = version == 3 ? int64_t(be32(body.data())) + 4 : syncsafe(body.data());
        if (ext < 6 || uint64_t(ext) > body.size()) return false;
        at = static_cast<size_t>(ext);
    }
    const size_t headLen = v22 ? 6 : 10;
    std::vector<RawText> texts;
    bool haveFront = false;
    while (at + headLen <= body.size()) {
        const uint8_t* h = body.data() + at;
        if (h[0] == 0) break; // padding
        char id[5] = {};
        std::memcpy(id, h, v22 ? 3 : 4);
        int64_t len = v22            ? int64_t(h[3]) << 16 | h[4] << 8 | h[5]
                      : version == 4 ? syncsafe(h + 4)
                                     : int64_t(be32(h + 4));
        if (version == 4) {
            // Some writers put plain sizes in 2.4 frames: the plain size is
            // taken when the sync-safe one does not lead to the next frame,
            // the padding or the end, and the plain one does.
            auto leadsOn = [&](int64_t l) {
                if (l < 0 || uint64_t(l) > body.size() - at - headLen) return false;
                const size_t next = at + headLen + static_cast<size_t>(l);
                if (next + headLen > body.size()) return true;
                const uint8_t c = body[next];
                return c == 0 || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
            };
            const int64_t plain = be32(h + 4);
            if (!leadsOn(len) && leadsOn(plain)) len = plain;
        }
        if (len < 0 || uint64_t(len) > body.size() - at - headLen) break;
        const int fflags = v22 ? 0 : h[9];
        const uint8_t* p = h + headLen;
        size_t n = static_cast<size_t>(len);
        at += headLen + n;
        std::vector<uint8_t> unsynced;
        if (version == 3) {
            if (fflags & 0xC0) continue; // compressed or encrypted
            if (fflags & 0x20) {         // grouping byte
                if (n < 1) continue;
                ++p, --n;
            }
        } else if (version == 4) {
            if (fflags & 0x0C) continue;
            if (fflags & 0x40) {
                if (n < 1) continue;
                ++p, --n;
            }
            if (fflags & 0x01) { // data length indicator
                if (n < 4) continue;
                p += 4, n -= 4;
            }
            if ((fflags & 0x02) || (flags & 0x80)) {
                unsynced = resync(p, n);
                p = unsynced.data(), n = unsynced.size();
            }
        }
        if (n == 0) continue;
        if (std::strncmp(id, v22 ? "PIC" : "APIC", v22 ? 3 : 4) == 0) {
            readPicture(p, n, v22, out, haveFront);
            continue;
        }
        const Field f = fieldOf(id, v22);
        if (f == Field::None) continue;
        RawText t{f, p[0], {}};
        if (t.encoding > 3) continue;
        if (f == Field::Comment) {
            if (!out.comment.empty() || !commentText(p, n, t)) continue;
            bool have = std::any_of(texts.begin(), texts.end(),
                                    [](const RawText& r) { return r.field == Field::Comment; });
            if (have) continue;
        } else {
            t.bytes.assign(reinterpret_cast<const char*>(p + 1), n - 1);
        }
        texts.push_back(std::move(t));
    }
    applyTexts(texts, charset, out);
    return true;
}

bool parseId3v1(const uint8_t* b, size_t size, TagCharset charset, MediaTags& out) {
    if (size < 128 || std::memcmp(b, "TAG", 3) != 0) return false;
    auto field = [b](int at, int len) {
        std::string s(reinterpret_cast<const char*>(b + at), len);
        s = s.substr(0, s.find('\0'));
        return trimText(s);
    };
    std::vector<RawText> texts = {{Field::Title, 0, field(3, 30)},
                                  {Field::Artist, 0, field(33, 30)},
                                  {Field::Album, 0, field(63, 30)},
                                  {Field::Year, 0, field(93, 4)},
                                  {Field::Comment, 0, field(97, b[125] == 0 && b[126] ? 28 : 30)}};
    applyTexts(texts, charset, out);
    if (b[125] == 0 && b[126] != 0) out.track = b[126]; // ID3v1.1
    if (const char* g = id3v1Genre(b[127]); *g) out.genre = g;
    return true;
}

bool parseMp4Ilst(const uint8_t* moov, size_t size, MediaTags& out) {
    // Finds the child `type` of the box payload [p, p + n).
    auto child = [](const uint8_t* p, size_t n, const char* type, size_t& len) -> const uint8_t* {
        size_t at = 0;
        while (at + 8 <= n) {
            uint64_t box = be32(p + at);
            size_t head = 8;
            if (box == 1) {
                if (at + 16 > n) return nullptr;
                box = be64(p + at + 8);
                head = 16;
            } else if (box == 0) {
                box = n - at;
            }
            if (box < head || box > n - at) return nullptr;
            if (std::memcmp(p + at + 4, type, 4) == 0) {
                len = static_cast<size_t>(box - head);
                return p + at + head;
            }
            at += static_cast<size_t>(box);
        }
        return nullptr;
    };
    size_t n = 0;
    const uint8_t* udta = child(moov, size, "udta", n);
    if (!udta) return false;
    size_t mn = 0;
    const uint8_t* meta = child(udta, n, "meta", mn);
    if (!meta || mn < 4) return false;
    // A full box (version and flags first) or, as QuickTime writes it, not.
    if (!(mn >= 8 && std::memcmp(meta + 4, "hdlr", 4) == 0)) meta += 4, mn -= 4;
    size_t ln = 0;
    const uint8_t* ilst = child(meta, mn, "ilst", ln);
    if (!ilst) return false;
    size_t at = 0;
    while (at + 8 <= ln) {
        const uint64_t box = be32(ilst + at);
        if (box < 8 || box > ln - at) break;
        const uint8_t* item = ilst + at;
        at += static_cast<size_t>(box);
        size_t dn = 0;
        const uint8_t* data = child(item + 8, static_cast<size_t>(box - 8), "data", dn);
        if (!data || dn < 8) continue;
        const uint32_t type = be32(data) & 0xFFFFFF;
        const uint8_t* v = data + 8;
        const size_t vn = dn - 8;
        const std::string text = cleanUtf8(std::string(reinterpret_cast<const char*>(v), vn));
        const char* key = reinterpret_cast<const char*>(item + 4);
        auto is = [key](const char* k) { return std::memcmp(key, k, 4) == 0; };
        if (is("\xA9nam"))
            out.title = text;
        else if (is("\xA9"
                    "ART"))
            out.artist = text;
        else if (is("\xA9"
                    "alb"))
            out.album = text;
        else if (is("aART"))
            out.albumArtist = text;
        else if (is("\xA9"
                    "day"))
            out.year = text.substr(0, text.find('-'));
        else if (is("\xA9"
                    "gen"))
            out.genre = text;
        else if (is("\xA9"
                    "cmt"))
            out.comment = text;
        else if (is("gnre") && vn >= 2)
            out.genre = id3v1Genre((v[0] << 8 | v[1]) - 1);
        else if ((is("trkn") || is("disk")) && vn >= 6) {
            (is("trkn") ? out.track : out.disc) = v[2] << 8 | v[3];
            (is("trkn") ? out.trackTotal : out.discTotal) = v[4] << 8 | v[5];
        } else if (is("covr") && vn > 0 && out.cover.empty()) {
            out.cover.assign(v, v + vn);
            const bool png = type == 14 || (vn >= 4 && std::memcmp(v, "\x89PNG", 4) == 0);
            out.coverMime = png ? "image/png" : "image/jpeg";
        }
    }
    return true;
}

namespace {

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

bool readAt(FILE* f, uint64_t at, void* to, size_t n) {
    return fseeko(f, static_cast<off_t>(at), SEEK_SET) == 0 && std::fread(to, 1, n, f) == n;
}

// The tags of an MP4 file: its top-level `moov` box, read whole.
void readMp4(FILE* f, uint64_t fileSize, MediaTags& out) {
    uint64_t at = 0;
    for (int boxes = 0; at + 8 <= fileSize && boxes < 100000; ++boxes) {
        uint8_t h[16];
        if (!readAt(f, at, h, 8)) return;
        uint64_t size = be32(h);
        uint64_t head = 8;
        if (size == 1) {
            if (!readAt(f, at + 8, h + 8, 8)) return;
            size = be64(h + 8);
            head = 16;
        } else if (size == 0) {
            size = fileSize - at;
        }
        if (size < head || size > fileSize - at) return;
        if (std::memcmp(h + 4, "moov", 4) == 0) {
            if (size - head > kMaxTagBytes) return;
            std::vector<uint8_t> moov(static_cast<size_t>(size - head));
            if (!readAt(f, at + head, moov.data(), moov.size())) return;
            parseMp4Ilst(moov.data(), moov.size(), out);
            return;
        }
        at += size;
    }
}

// The tags libavformat reads, by FFmpeg's generic key names.
void readByFfmpeg(const std::string& path, MediaTags& out) {
    ContainerMetadata md;
    if (readContainerMetadata(path, md) < 0) return;
    for (const auto& [key, value] : md.entries) {
        const std::string v = cleanUtf8(trimText(value));
        if (key == "title")
            out.title = v;
        else if (key == "artist" || (key == "author" && out.artist.empty()))
            out.artist = v;
        else if (key == "album" || (key == "product" && out.album.empty()))
            out.album = v;
        else if (key == "album_artist")
            out.albumArtist = v;
        else if (key == "track")
            parsePair(v, out.track, out.trackTotal);
        else if (key == "disc")
            parsePair(v, out.disc, out.discTotal);
        else if ((key == "date" || key == "year") && out.year.empty())
            out.year = v.substr(0, v.find('-'));
        else if (key == "genre")
            out.genre = genreText(v);
        else if (key == "comment" || key == "description") {
            if (out.comment.empty()) out.comment = v;
        }
    }
    out.cover = std::move(md.picture);
    out.coverMime = md.pictureMime;
}

} // namespace

MediaTags readMediaTags(const std::string& path, TagCharset charset) {
    MediaTags tags;
    // Only regular files: a pipe's bytes belong to its reader.
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return tags;
    File f(std::fopen(path.c_str(), "rb"));
    if (!f) return tags;
    if (fseeko(f.get(), 0, SEEK_END) != 0) return tags;
    const off_t end = ftello(f.get());
    if (end <= 0) return tags;
    const auto fileSize = static_cast<uint64_t>(end);
    uint8_t head[12] = {};
    const size_t got = fileSize < sizeof head ? static_cast<size_t>(fileSize) : sizeof head;
    if (!readAt(f.get(), 0, head, got)) return tags;
    uint8_t tail[128] = {};
    const bool v1 = fileSize >= 128 && readAt(f.get(), fileSize - 128, tail, 128) &&
                    std::memcmp(tail, "TAG", 3) == 0;
    if (got >= 10 && std::memcmp(head, "ID3", 3) == 0) {
        const int64_t size = syncsafe(head + 6);
        const uint64_t whole = size >= 0 ? uint64_t(size) + 10 : 0;
        if (size >= 0 && whole <= fileSize && whole <= kMaxTagBytes) {
            std::vector<uint8_t> tag(static_cast<size_t>(whole));
            if (readAt(f.get(), 0, tag.data(), tag.size()))
                parseId3v2(tag.data(), tag.size(), charset, tags);
        }
    } else if (got >= 8 &&
               (std::memcmp(head + 4, "ftyp", 4) == 0 || std::memcmp(head + 4, "moov", 4) == 0 ||
                std::memcmp(head + 4, "wide", 4) == 0)) {
        readMp4(f.get(), fileSize, tags);
        return tags;
    } else if (!v1) {
        // Containers whose tags libavformat reads; MPEG streams carry none.
        static const char* const magics[] = {"\x30\x26\xB2\x75", ".RMF", "RIFF", "FLV",
                                             "\x1A\x45\xDF\xA3", "OggS", "fLaC", "FORM"};
        for (const char* m : magics)
            if (got >= 4 && std::memcmp(head, m, std::strlen(m)) == 0) {
                f.reset();
                readByFfmpeg(path, tags);
                break;
            }
        return tags;
    }
    if (v1) {
        MediaTags old;
        parseId3v1(tail, sizeof tail, charset, old);
        tags.fillFrom(old);
    }
    return tags;
}

MediaTags sharedTags(const std::vector<MediaTags>& list) {
    MediaTags t;
    if (list.empty()) return t;
    t = list.front();
    t.track = t.trackTotal = t.disc = t.discTotal = 0;
    t.comment.clear();
    for (const auto& o : list) {
        auto keep = [](std::string& a, const std::string& b) {
            if (a != b) a.clear();
        };
        keep(t.title, o.title);
        keep(t.artist, o.artist);
        keep(t.album, o.album);
        keep(t.albumArtist, o.albumArtist);
        keep(t.year, o.year);
        keep(t.genre, o.genre);
        if (t.cover != o.cover) t.cover.clear(), t.coverMime.clear();
    }
    if (list.size() > 1) t.title.clear();
    return t;
}

bool setTagField(MediaTags& t, const std::string& key, const std::string& value) {
    const std::string v = cleanUtf8(value);
    if (key == "title")
        t.title = v;
    else if (key == "artist")
        t.artist = v;
    else if (key == "album")
        t.album = v;
    else if (key == "album_artist")
        t.albumArtist = v;
    else if (key == "year" || key == "date")
        t.year = v;
    else if (key == "genre")
        t.genre = v;
    else if (key == "comment")
        t.comment = v;
    else if (key == "track")
        t.track = t.trackTotal = 0, parsePair(v, t.track, t.trackTotal);
    else if (key == "disc")
        t.disc = t.discTotal = 0, parsePair(v, t.disc, t.discTotal);
    else
        return false;
    return true;
}

std::string tagField(const MediaTags& t, const std::string& key) {
    auto pair = [](int a, int b) {
        if (a <= 0) return std::string();
        return b > 0 ? std::to_string(a) + "/" + std::to_string(b) : std::to_string(a);
    };
    if (key == "title") return t.title;
    if (key == "artist") return t.artist;
    if (key == "album") return t.album;
    if (key == "album_artist") return t.albumArtist;
    if (key == "year" || key == "date") return t.year;
    if (key == "genre") return t.genre;
    if (key == "comment") return t.comment;
    if (key == "track") return pair(t.track, t.trackTotal);
    if (key == "disc") return pair(t.disc, t.discTotal);
    return "";
}

} // namespace kestrel
