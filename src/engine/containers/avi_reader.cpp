#include "engine/containers/avi_reader.h"

#include "platform/paths.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <sys/stat.h>

namespace kestrel {
namespace {

// Limits on what is read whole: the header list and the audio format.
constexpr uint32_t kMaxHeaderList = 1u << 20;
constexpr size_t kMaxAudioFormat = 4096;

uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t le16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}

bool sameIdNoCase(const uint8_t* a, const char* b) {
    for (int i = 0; i < 4; ++i) {
        int x = a[i], y = static_cast<uint8_t>(b[i]);
        if (x >= 'a' && x <= 'z') x -= 32;
        if (y >= 'a' && y <= 'z') y -= 32;
        if (x != y) return false;
    }
    return true;
}

// Ids of stream chunks: two characters then "db", "dc" or "wb" in either case.
bool isStreamChunkId(const uint8_t* id) {
    char a = static_cast<char>(id[2] | 0x20), b = static_cast<char>(id[3] | 0x20);
    return (a == 'd' && (b == 'b' || b == 'c')) || (a == 'w' && b == 'b');
}

struct RawEntry {
    char id[4];
    uint64_t offset; // of the data, past the chunk header
    uint32_t length;
};

// The stream headers of the header list.
void readHeaderList(const uint8_t* h, size_t n, AviFile& out, bool& videoFormat) {
    int streamNo = -1;
    int lastType = 0; // 1 video, 2 audio, 0 other stream of the last "strh"
    size_t pos = 0;
    while (pos + 8 <= n) {
        const uint8_t* c = h + pos;
        uint32_t size = le32(c + 4);
        size_t body = pos + 8;
        size_t avail = n - body;
        if (std::memcmp(c, "LIST", 4) == 0) {
            pos += 12; // step into the list
            continue;
        }
        if (std::memcmp(c, "strh", 4) == 0) {
            ++streamNo;
            lastType = 0;
            if (size >= 36 && avail >= 36) {
                const uint8_t* s = h + body;
                if (std::memcmp(s, "vids", 4) == 0 && out.videoStream < 0) {
                    out.videoStream = streamNo;
                    out.videoScale = le32(s + 20);
                    out.videoRate = le32(s + 24);
                    out.videoFrames = le32(s + 32);
                    lastType = 1;
                } else if (std::memcmp(s, "auds", 4) == 0 && out.audioStream < 0) {
                    out.audioStream = streamNo;
                    lastType = 2;
                }
            }
        } else if (std::memcmp(c, "strf", 4) == 0) {
            const uint8_t* s = h + body;
            size_t have = std::min<size_t>(size, avail);
            if (lastType == 1 && have >= 12) {
                out.width = static_cast<int32_t>(le32(s + 4));
                out.height = static_cast<int32_t>(le32(s + 8));
                videoFormat = true;
            } else if (lastType == 2 && have >= 16) {
                out.formatTag = le16(s);
                out.channels = le16(s + 2);
                out.sampleRate = static_cast<int>(std::min<uint32_t>(le32(s + 4), 0x7FFFFFFF));
                out.blockAlign = le16(s + 12);
                out.bitsPerSample = le16(s + 14);
                out.audioFormat.assign(s, s + std::min(have, kMaxAudioFormat));
            }
            lastType = 0;
        }
        uint64_t next = uint64_t(body) + size + (size & 1);
        if (next > n) break;
        pos = static_cast<size_t>(next);
    }
}

// Does the chunk header at `at` carry `id` and `length`?
bool chunkAt(AviSource& src, uint64_t at, const char* id, uint32_t length) {
    uint8_t h[8];
    if (src.read(at, h, 8) != 8) return false;
    return std::memcmp(h, id, 4) == 0 && le32(h + 4) == length;
}

// Walks the "movi" list for the stream chunks (rec lists are stepped into).
void scanMovi(AviSource& src, const AviFile& f, std::vector<RawEntry>& out) {
    const uint64_t end = std::min(f.moviEnd, src.size());
    uint64_t pos = f.moviData;
    uint8_t h[8];
    while (pos + 8 <= end) {
        if (src.read(pos, h, 8) != 8) break;
        uint32_t size = le32(h + 4);
        if (std::memcmp(h, "LIST", 4) == 0) {
            pos += 12;
            continue;
        }
        if (isStreamChunkId(h)) {
            RawEntry e;
            std::memcpy(e.id, h, 4);
            e.offset = pos + 8;
            // A chunk cut short by the end of the file keeps what is there.
            e.length = static_cast<uint32_t>(std::min<uint64_t>(size, end - e.offset));
            out.push_back(e);
        }
        pos += 8 + uint64_t(size) + (size & 1);
    }
}

} // namespace

int readAvi(AviSource& src, bool withIndex, AviFile& out) {
    out = AviFile();
    uint8_t h[12];
    if (src.read(0, h, 12) != 12 || !sameIdNoCase(h, "RIFF") || !sameIdNoCase(h + 8, "AVI "))
        return kAviNotAvi;
    const uint64_t fileEnd = src.size();
    std::vector<uint8_t> hdrl;
    bool haveHdrl = false, haveMovi = false;
    uint64_t idx1 = 0;
    uint32_t idx1Size = 0;
    bool haveIdx1 = false;
    for (uint64_t pos = 12; pos + 8 <= fileEnd;) {
        size_t got = src.read(pos, h, 12);
        if (got < 8) break;
        uint32_t size = le32(h + 4);
        uint64_t body = pos + 8;
        if (std::memcmp(h, "LIST", 4) == 0 && got == 12 && size >= 4) {
            if (std::memcmp(h + 8, "hdrl", 4) == 0 && !haveHdrl) {
                uint64_t n = std::min<uint64_t>(
                    {uint64_t(size) - 4, fileEnd - (body + 4), uint64_t(kMaxHeaderList)});
                try {
                    hdrl.resize(static_cast<size_t>(n));
                } catch (const std::bad_alloc&) {
                    return kAviNoMemory;
                }
                if (!hdrl.empty()) hdrl.resize(src.read(body + 4, hdrl.data(), hdrl.size()));
                haveHdrl = true;
            } else if (std::memcmp(h + 8, "movi", 4) == 0 && !haveMovi) {
                out.moviData = body + 4;
                out.moviEnd = std::min<uint64_t>(body + size, fileEnd);
                haveMovi = true;
            }
        } else if (std::memcmp(h, "idx1", 4) == 0 && !haveIdx1) {
            idx1 = body;
            idx1Size = static_cast<uint32_t>(std::min<uint64_t>(size, fileEnd - body));
            haveIdx1 = true;
        }
        pos = body + size + (size & 1);
    }
    if (!haveHdrl) return kAviNoHeaderList;
    if (!haveMovi) return kAviNoMovi;
    bool videoFormat = false;
    readHeaderList(hdrl.data(), hdrl.size(), out, videoFormat);
    if (out.videoStream < 0 || !videoFormat) return kAviNoVideo;
    std::snprintf(out.videoId, sizeof out.videoId, "%02ddb", out.videoStream % 100);
    std::snprintf(out.audioId, sizeof out.audioId, "%02dwb",
                  out.audioStream >= 0 ? out.audioStream % 100 : 99);
    if (!withIndex) return kAviNoError;

    std::vector<RawEntry> entries;
    try {
        if (haveIdx1 && idx1Size >= 16) {
            std::vector<uint8_t> raw(idx1Size / 16 * 16);
            raw.resize(src.read(idx1, raw.data(), raw.size()) / 16 * 16);
            // The base of the offsets: the first video entry must point at
            // a chunk header with its id and length.
            const RawEntry* probe = nullptr;
            RawEntry first{};
            for (size_t i = 0; i < raw.size(); i += 16) {
                if (std::memcmp(raw.data() + i, out.videoId, 3) == 0) {
                    std::memcpy(first.id, raw.data() + i, 4);
                    first.offset = le32(raw.data() + i + 8);
                    first.length = le32(raw.data() + i + 12);
                    probe = &first;
                    break;
                }
            }
            uint64_t base = 0;
            bool trusted = false;
            if (probe) {
                char id[5] = {probe->id[0], probe->id[1], probe->id[2], probe->id[3], 0};
                if (chunkAt(src, probe->offset, id, probe->length)) {
                    trusted = true;
                    out.indexSource = AviIndexSource::FromFileStart;
                } else if (chunkAt(src, out.moviData - 4 + probe->offset, id, probe->length)) {
                    base = out.moviData - 4;
                    trusted = true;
                    out.indexSource = AviIndexSource::FromMovi;
                }
            }
            if (trusted) {
                entries.reserve(raw.size() / 16);
                for (size_t i = 0; i < raw.size(); i += 16) {
                    RawEntry e;
                    std::memcpy(e.id, raw.data() + i, 4);
                    uint64_t at = base + le32(raw.data() + i + 8) + 8;
                    uint32_t len = le32(raw.data() + i + 12);
                    if (at > fileEnd) continue; // points past the file: dropped
                    e.offset = at;
                    e.length = static_cast<uint32_t>(std::min<uint64_t>(len, fileEnd - at));
                    entries.push_back(e);
                }
            }
        }
        if (out.indexSource == AviIndexSource::None) {
            scanMovi(src, out, entries);
            out.indexSource = AviIndexSource::Scanned;
        }
        for (const RawEntry& e : entries) {
            if (std::memcmp(e.id, out.videoId, 3) == 0) {
                out.videoIndex.push_back({e.offset, e.length, 0});
            } else if (out.audioStream >= 0 && std::memcmp(e.id, out.audioId, 4) == 0) {
                out.audioIndex.push_back({e.offset, e.length, out.audioBytes});
                out.audioBytes += e.length;
            }
        }
    } catch (const std::bad_alloc&) {
        out.videoIndex.clear();
        out.audioIndex.clear();
        return kAviNoMemory;
    }
    return kAviNoError;
}

AviReader::~AviReader() {
    close();
}

int AviReader::open(const std::string& path, bool withIndex) {
    close();
    file_ = openSource(path);
    if (!file_) return error_ = kAviOpen;
    struct stat st;
    size_ = ::fstat(fileno(file_), &st) == 0 && st.st_size > 0 ? uint64_t(st.st_size) : 0;
    error_ = readAvi(*this, withIndex, info_);
    if (error_ != kAviNoError) {
        std::fclose(file_);
        file_ = nullptr;
    }
    return error_;
}

void AviReader::close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    size_ = 0;
}

size_t AviReader::read(uint64_t offset, uint8_t* to, size_t n) {
    if (!file_ || offset >= size_ || n == 0) return 0;
    if (fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0) return 0;
    return std::fread(to, 1, n, file_);
}

long AviReader::readAudioChunk(size_t i, std::vector<uint8_t>& to) {
    if (i >= info_.audioIndex.size()) return -1;
    const AviChunk& c = info_.audioIndex[i];
    to.resize(c.length);
    size_t got = c.length ? read(c.offset, to.data(), c.length) : 0;
    to.resize(got);
    return static_cast<long>(got);
}

AviAudioCodec aviAudioCodec(int formatTag) {
    if (formatTag == 1) return AviAudioCodec::Pcm;
    if (formatTag >= 0x50 && formatTag <= 0x55) return AviAudioCodec::MpegAudio;
    return AviAudioCodec::Adpcm;
}

} // namespace kestrel
