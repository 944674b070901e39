#include "support/flv_avi_read.h"

#include "engine/core/mpeg_audio_header.h"

#include <cstring>

namespace kestrel::test {

uint32_t be24(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) << 16 | uint32_t(b[at + 1]) << 8 | b[at + 2];
}

uint32_t be32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) << 24 | be24(b, at + 1);
}

uint32_t le32At(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}

uint16_t le16At(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

std::string fourcc(const std::vector<uint8_t>& b, size_t at) {
    return at + 4 <= b.size() ? std::string(b.begin() + long(at), b.begin() + long(at) + 4) : "";
}

FlvFile readFlv(const std::vector<uint8_t>& b) {
    FlvFile f;
    if (b.size() < 13 || std::memcmp(b.data(), "FLV", 3) != 0) return f;
    f.flags = b[4];
    size_t pos = be32(b, 5);
    if (pos + 4 > b.size()) return f;
    f.firstPreviousTagSize = be32(b, pos);
    pos += 4;
    while (pos + 11 <= b.size()) {
        FlvTag t;
        t.at = pos;
        t.type = b[pos];
        t.dataSize = be24(b, pos + 1);
        t.timestamp = be24(b, pos + 4) | uint32_t(b[pos + 7]) << 24;
        if (pos + 11 + t.dataSize + 4 > b.size()) return f;
        t.data.assign(b.begin() + long(pos) + 11, b.begin() + long(pos + 11 + t.dataSize));
        t.previousTagSize = be32(b, pos + 11 + t.dataSize);
        pos += 11 + t.dataSize + 4;
        f.tags.push_back(std::move(t));
    }
    f.ok = pos == b.size();
    return f;
}

namespace {

struct AmfReader {
    const std::vector<uint8_t>& b;
    size_t pos = 0;
    bool ok = true;
    bool need(size_t n) {
        if (pos + n > b.size()) ok = false;
        return ok;
    }
    std::string rawString() {
        if (!need(2)) return "";
        size_t n = size_t(b[pos]) << 8 | b[pos + 1];
        pos += 2;
        if (!need(n)) return "";
        std::string s(b.begin() + long(pos), b.begin() + long(pos + n));
        pos += n;
        return s;
    }
    bool value(AmfEntry& e) {
        if (!need(1)) return false;
        e.type = b[pos++];
        if (e.type == 0) {
            if (!need(8)) return false;
            uint64_t u = 0;
            for (int i = 0; i < 8; ++i)
                u = u << 8 | b[pos + size_t(i)];
            std::memcpy(&e.number, &u, 8);
            pos += 8;
        } else if (e.type == 1) {
            if (!need(1)) return false;
            e.boolean = b[pos++] != 0;
        } else if (e.type == 2) {
            e.text = rawString();
        } else {
            ok = false;
        }
        return ok;
    }
};

} // namespace

const AmfEntry* OnMetaData::find(const std::string& key) const {
    for (const auto& e : entries)
        if (e.key == key) return &e;
    return nullptr;
}

OnMetaData readOnMetaData(const FlvTag& tag) {
    OnMetaData m;
    AmfReader r{tag.data};
    AmfEntry name;
    if (!r.value(name) || name.type != 2 || name.text != "onMetaData") return m;
    if (!r.need(5) || tag.data[r.pos] != 8) return m;
    m.declaredCount = be32(tag.data, r.pos + 1);
    r.pos += 5;
    for (;;) {
        if (!r.need(3)) return m;
        if (tag.data[r.pos] == 0 && tag.data[r.pos + 1] == 0 && tag.data[r.pos + 2] == 9) {
            r.pos += 3;
            break;
        }
        AmfEntry e;
        e.key = r.rawString();
        if (!r.value(e)) return m;
        m.entries.push_back(e);
    }
    m.ok = r.pos == tag.data.size();
    return m;
}

std::vector<uint8_t> flvMp3(const FlvFile& flv) {
    std::vector<uint8_t> mp3;
    for (const auto& t : flv.tags)
        if (t.type == 8 && !t.data.empty()) mp3.insert(mp3.end(), t.data.begin() + 1, t.data.end());
    return mp3;
}

AviFile readAvi(const std::vector<uint8_t>& b) {
    AviFile a;
    size_t pos = 2048;
    while (pos + 8 <= b.size() && fourcc(b, pos) == "01wb") {
        uint32_t n = le32At(b, pos + 4);
        if (pos + 8 + n > b.size()) return a;
        a.chunks.push_back(AviChunk{pos, n});
        pos += 8 + n + (n & 1);
    }
    if (pos + 8 > b.size() || fourcc(b, pos) != "idx1") return a;
    a.indexAt = pos;
    uint32_t n = le32At(b, pos + 4);
    if (n % 16 || pos + 8 + n != b.size()) return a;
    for (size_t i = pos + 8; i < pos + 8 + n; i += 16)
        a.index.push_back(
            AviIndexRow{fourcc(b, i), le32At(b, i + 4), le32At(b, i + 8), le32At(b, i + 12)});
    a.ok = true;
    return a;
}

std::vector<uint8_t> aviMp3(const std::vector<uint8_t>& b, const AviFile& avi) {
    std::vector<uint8_t> mp3;
    for (const auto& c : avi.chunks)
        mp3.insert(mp3.end(), b.begin() + long(c.at) + 8, b.begin() + long(c.at + 8 + c.size));
    return mp3;
}

bool mp3Frames(const std::vector<uint8_t>& mp3, std::vector<uint32_t>& headers) {
    headers.clear();
    size_t pos = 0;
    while (pos + 4 <= mp3.size()) {
        MpegAudioHeader h;
        if (!parseMpegAudioHeader(mp3.data() + pos, h) || h.frameBytes <= 0) return false;
        headers.push_back(h.word);
        pos += size_t(h.frameBytes);
    }
    return pos == mp3.size();
}

} // namespace kestrel::test
