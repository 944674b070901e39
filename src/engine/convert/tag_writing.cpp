#include "engine/convert/tag_writing.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel {

namespace {

void put32be(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(uint8_t(x >> 24));
    v.push_back(uint8_t(x >> 16));
    v.push_back(uint8_t(x >> 8));
    v.push_back(uint8_t(x));
}
void put32le(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
    v.push_back(uint8_t(x >> 16));
    v.push_back(uint8_t(x >> 24));
}
void putBytes(std::vector<uint8_t>& v, const void* p, size_t n) {
    if (n == 0) return;
    const size_t at = v.size();
    v.resize(at + n);
    std::memcpy(v.data() + at, p, n);
}
uint32_t be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// The code points of a UTF-8 text (a malformed byte gives U+FFFD).
std::vector<uint32_t> codePoints(const std::string& s) {
    std::vector<uint32_t> out;
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<uint8_t>(s[i]);
        size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (len == 0 || i + len > s.size()) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        uint32_t cp = len == 1 ? c : c & (0x7F >> len);
        for (size_t k = 1; k < len; ++k)
            cp = cp << 6 | (static_cast<uint8_t>(s[i + k]) & 0x3F);
        out.push_back(cp);
        i += len;
    }
    return out;
}

// An ID3v2.3 text: encoding byte, then ISO-8859-1 or UTF-16LE with its mark.
std::vector<uint8_t> id3Text(const std::string& utf8) {
    const auto cps = codePoints(utf8);
    bool latin1 = true;
    for (uint32_t c : cps)
        latin1 = latin1 && c <= 0xFF;
    std::vector<uint8_t> v;
    if (latin1) {
        v.push_back(0);
        for (uint32_t c : cps)
            v.push_back(uint8_t(c));
        return v;
    }
    v = {1, 0xFF, 0xFE};
    auto unit = [&v](uint32_t u) {
        v.push_back(uint8_t(u));
        v.push_back(uint8_t(u >> 8));
    };
    for (uint32_t c : cps) {
        if (c >= 0x10000) {
            unit(0xD800 + ((c - 0x10000) >> 10));
            unit(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            unit(c);
        }
    }
    return v;
}

void id3Frame(std::vector<uint8_t>& tag, const char* id, const std::vector<uint8_t>& body) {
    putBytes(tag, id, 4);
    put32be(tag, static_cast<uint32_t>(body.size()));
    tag.push_back(0);
    tag.push_back(0);
    putBytes(tag, body.data(), body.size());
}

std::string numberPair(int a, int b) {
    if (a <= 0) return "";
    return b > 0 ? std::to_string(a) + "/" + std::to_string(b) : std::to_string(a);
}

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// An MP4 box of `type` around `payload`.
std::vector<uint8_t> box(const char* type, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> b;
    put32be(b, static_cast<uint32_t>(payload.size() + 8));
    putBytes(b, type, 4);
    putBytes(b, payload.data(), payload.size());
    return b;
}

// An `ilst` item holding one `data` box of `dataType`.
std::vector<uint8_t> ilstItem(const char* key, uint32_t dataType, const void* p, size_t n) {
    std::vector<uint8_t> data;
    put32be(data, dataType);
    put32be(data, 0);
    putBytes(data, p, n);
    return box(key, box("data", data));
}

} // namespace

MediaTags outputTags(const std::vector<std::string>& sources, const TagOptions& options) {
    MediaTags t;
    if (options.write) {
        std::vector<MediaTags> all;
        for (const auto& s : sources)
            all.push_back(readMediaTags(s, options.charset));
        t = all.size() == 1 ? all.front() : sharedTags(all);
    }
    for (const auto& [key, value] : options.overrides)
        setTagField(t, key, value);
    return t;
}

std::vector<uint8_t> id3v23Tag(const MediaTags& t) {
    std::vector<uint8_t> frames;
    auto text = [&frames](const char* id, const std::string& v) {
        if (!v.empty()) id3Frame(frames, id, id3Text(v));
    };
    text("TIT2", t.title);
    text("TPE1", t.artist);
    text("TALB", t.album);
    text("TPE2", t.albumArtist);
    text("TRCK", numberPair(t.track, t.trackTotal));
    text("TPOS", numberPair(t.disc, t.discTotal));
    text("TYER", t.year);
    text("TCON", t.genre);
    if (!t.comment.empty()) {
        std::vector<uint8_t> c = id3Text(t.comment);
        // Encoding, language, an empty description, then the text.
        std::vector<uint8_t> body = {c[0], 'e', 'n', 'g'};
        if (c[0] == 1)
            body.insert(body.end(), {0xFF, 0xFE, 0, 0});
        else
            body.push_back(0);
        body.insert(body.end(), c.begin() + 1, c.end());
        id3Frame(frames, "COMM", body);
    }
    // A picture the 28-bit tag size cannot hold is left out.
    if (!t.cover.empty() && t.cover.size() < (200u << 20)) {
        const std::string mime = t.coverMime.empty() ? "image/jpeg" : t.coverMime;
        std::vector<uint8_t> body = {0};
        putBytes(body, mime.c_str(), mime.size() + 1);
        body.push_back(3); // front cover
        body.push_back(0); // no description
        putBytes(body, t.cover.data(), t.cover.size());
        id3Frame(frames, "APIC", body);
    }
    if (frames.empty()) return {};
    std::vector<uint8_t> tag = {'I', 'D', '3', 3, 0, 0};
    const auto n = static_cast<uint32_t>(frames.size());
    tag.push_back(uint8_t(n >> 21 & 0x7F));
    tag.push_back(uint8_t(n >> 14 & 0x7F));
    tag.push_back(uint8_t(n >> 7 & 0x7F));
    tag.push_back(uint8_t(n & 0x7F));
    tag.insert(tag.end(), frames.begin(), frames.end());
    return tag;
}

std::vector<uint8_t> wavInfoChunk(const MediaTags& t) {
    std::vector<uint8_t> body = {'I', 'N', 'F', 'O'};
    auto item = [&body](const char* id, const std::string& v) {
        if (v.empty()) return;
        putBytes(body, id, 4);
        put32le(body, static_cast<uint32_t>(v.size() + 1));
        putBytes(body, v.c_str(), v.size() + 1);
        if ((v.size() + 1) & 1) body.push_back(0);
    };
    item("INAM", t.title);
    item("IART", t.artist);
    item("IPRD", t.album);
    item("IPRT", numberPair(t.track, t.trackTotal));
    item("ICRD", t.year);
    item("IGNR", t.genre);
    item("ICMT", t.comment);
    if (body.size() == 4) return {};
    std::vector<uint8_t> chunk = {'L', 'I', 'S', 'T'};
    put32le(chunk, static_cast<uint32_t>(body.size()));
    chunk.insert(chunk.end(), body.begin(), body.end());
    return chunk;
}

int appendWavInfo(const std::string& path, const MediaTags& tags) {
    const std::vector<uint8_t> chunk = wavInfoChunk(tags);
    if (chunk.empty()) return 0;
    File f(std::fopen(path.c_str(), "r+b"));
    if (!f) return -1;
    uint8_t head[44];
    if (std::fread(head, 1, sizeof head, f.get()) != sizeof head ||
        std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 36, "data", 4) != 0)
        return -1;
    const uint64_t data = uint32_t(head[40]) | uint32_t(head[41]) << 8 | uint32_t(head[42]) << 16 |
                          uint32_t(head[43]) << 24;
    const uint64_t end = 44 + data + (data & 1);
    struct stat st;
    if (::fstat(fileno(f.get()), &st) != 0 || static_cast<uint64_t>(st.st_size) != 44 + data)
        return -1; // not the file the writer finished
    const uint64_t riff = end - 8 + chunk.size();
    if (riff > 0xFFFFFFFFu) return 0; // no room in the RIFF size: no tags
    std::vector<uint8_t> tail;
    if (data & 1) tail.push_back(0);
    tail.insert(tail.end(), chunk.begin(), chunk.end());
    if (fseeko(f.get(), static_cast<off_t>(44 + data), SEEK_SET) != 0 ||
        std::fwrite(tail.data(), 1, tail.size(), f.get()) != tail.size() ||
        std::fflush(f.get()) != 0) {
        (void)::ftruncate(fileno(f.get()), static_cast<off_t>(44 + data));
        return -1;
    }
    uint8_t b[4] = {uint8_t(riff), uint8_t(riff >> 8), uint8_t(riff >> 16), uint8_t(riff >> 24)};
    if (std::fseek(f.get(), 4, SEEK_SET) != 0 || std::fwrite(b, 1, 4, f.get()) != 4) return -1;
    return std::fclose(f.release()) == 0 ? 0 : -1;
}

int addMp4Tags(const std::string& path, const MediaTags& t) {
    File f(std::fopen(path.c_str(), "r+b"));
    if (!f) return -1;
    struct stat st;
    if (::fstat(fileno(f.get()), &st) != 0) return -1;
    const auto fileSize = static_cast<uint64_t>(st.st_size);
    // The last top-level box must be `moov` with a 32-bit size.
    uint64_t at = 0, moovAt = 0, moovSize = 0;
    while (at + 8 <= fileSize) {
        uint8_t h[16];
        if (fseeko(f.get(), static_cast<off_t>(at), SEEK_SET) != 0 ||
            std::fread(h, 1, 8, f.get()) != 8)
            return -1;
        uint64_t size = be32(h);
        if (size == 1) {
            if (std::fread(h + 8, 1, 8, f.get()) != 8) return -1;
            size = uint64_t(be32(h + 8)) << 32 | be32(h + 12);
        } else if (size == 0) {
            size = fileSize - at;
        }
        if (size < 8 || size > fileSize - at) return -1;
        if (std::memcmp(h + 4, "moov", 4) == 0 && be32(h) >= 8) moovAt = at, moovSize = size;
        at += size;
    }
    if (moovSize == 0 || moovAt + moovSize != fileSize || moovSize > (64u << 20)) return -1;
    std::vector<uint8_t> moov(static_cast<size_t>(moovSize - 8));
    if (fseeko(f.get(), static_cast<off_t>(moovAt + 8), SEEK_SET) != 0 ||
        std::fread(moov.data(), 1, moov.size(), f.get()) != moov.size())
        return -1;
    // The children of `moov` but its `udta`; the items of the old `ilst`.
    std::vector<uint8_t> kept, oldItems;
    for (size_t p = 0; p + 8 <= moov.size();) {
        const uint32_t size = be32(moov.data() + p);
        if (size < 8 || size > moov.size() - p) return -1;
        const uint8_t* b = moov.data() + p;
        if (std::memcmp(b + 4, "udta", 4) != 0) {
            kept.insert(kept.end(), b, b + size);
        } else {
            // udta > meta (full box) > hdlr, ilst > items
            for (size_t q = 8; q + 8 <= size;) {
                const uint32_t s = be32(b + q);
                if (s < 8 || s > size - q) break;
                if (std::memcmp(b + q + 4, "meta", 4) == 0) {
                    for (size_t r = q + 12; r + 8 <= q + s;) {
                        const uint32_t s2 = be32(b + r);
                        if (s2 < 8 || s2 > q + s - r) break;
                        if (std::memcmp(b + r + 4, "ilst", 4) == 0)
                            oldItems.insert(oldItems.end(), b + r + 8, b + r + s2);
                        r += s2;
                    }
                }
                q += s;
            }
        }
        p += size;
    }
    std::vector<uint8_t> ilst;
    auto text = [&ilst](const char* key, const std::string& v) {
        if (!v.empty()) {
            auto item = ilstItem(key, 1, v.data(), v.size());
            ilst.insert(ilst.end(), item.begin(), item.end());
        }
    };
    text("\xA9nam", t.title);
    text("\xA9"
         "ART",
         t.artist);
    text("\xA9"
         "alb",
         t.album);
    text("aART", t.albumArtist);
    text("\xA9"
         "day",
         t.year);
    text("\xA9gen", t.genre);
    text("\xA9"
         "cmt",
         t.comment);
    auto number = [&ilst](const char* key, int a, int b, size_t len) {
        if (a <= 0) return;
        uint8_t v[8] = {0, 0, uint8_t(a >> 8), uint8_t(a), uint8_t(b >> 8), uint8_t(b), 0, 0};
        auto item = ilstItem(key, 0, v, len);
        ilst.insert(ilst.end(), item.begin(), item.end());
    };
    number("trkn", t.track, t.trackTotal, 8);
    number("disk", t.disc, t.discTotal, 6);
    if (!t.cover.empty()) {
        auto item =
            ilstItem("covr", t.coverMime == "image/png" ? 14 : 13, t.cover.data(), t.cover.size());
        ilst.insert(ilst.end(), item.begin(), item.end());
    }
    // Items of the old list that the tags do not set (the encoder's name).
    for (size_t p = 0; p + 8 <= oldItems.size();) {
        const uint32_t size = be32(oldItems.data() + p);
        if (size < 8 || size > oldItems.size() - p) break;
        bool set = false;
        for (size_t q = 0; q + 8 <= ilst.size(); q += be32(ilst.data() + q))
            set = set || std::memcmp(ilst.data() + q + 4, oldItems.data() + p + 4, 4) == 0;
        if (!set) ilst.insert(ilst.end(), oldItems.begin() + p, oldItems.begin() + p + size);
        p += size;
    }
    if (ilst.empty()) return 0;
    std::vector<uint8_t> hdlr = {0, 0, 0, 0, 0, 0, 0, 0, 'm', 'd', 'i', 'r', 'a', 'p', 'p', 'l'};
    hdlr.resize(hdlr.size() + 9, 0); // reserved words and an empty name
    std::vector<uint8_t> meta = {0, 0, 0, 0};
    const auto h = box("hdlr", hdlr);
    const auto l = box("ilst", ilst);
    meta.insert(meta.end(), h.begin(), h.end());
    meta.insert(meta.end(), l.begin(), l.end());
    const auto udta = box("udta", box("meta", meta));
    kept.insert(kept.end(), udta.begin(), udta.end());
    const std::vector<uint8_t> newMoov = box("moov", kept);
    if (fseeko(f.get(), static_cast<off_t>(moovAt), SEEK_SET) != 0 ||
        std::fwrite(newMoov.data(), 1, newMoov.size(), f.get()) != newMoov.size() ||
        std::fflush(f.get()) != 0)
        return -1;
    if (::ftruncate(fileno(f.get()), static_cast<off_t>(moovAt + newMoov.size())) != 0) return -1;
    return std::fclose(f.release()) == 0 ? 0 : -1;
}

std::vector<std::pair<std::string, std::string>> metadataPairs(const MediaTags& t) {
    std::vector<std::pair<std::string, std::string>> out;
    auto add = [&out](const char* k, const std::string& v) {
        if (!v.empty()) out.emplace_back(k, v);
    };
    add("title", t.title);
    add("artist", t.artist);
    add("album", t.album);
    add("album_artist", t.albumArtist);
    add("track", numberPair(t.track, t.trackTotal));
    add("disc", numberPair(t.disc, t.discTotal));
    add("date", t.year);
    add("genre", t.genre);
    add("comment", t.comment);
    return out;
}

} // namespace kestrel
