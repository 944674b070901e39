#include "engine/containers/aac_info.h"

#include "platform/paths.h"

#include <cstring>
#include <sys/types.h>

namespace kestrel {

namespace {

// Bytes of an ADTS header without its CRC: no frame is shorter.
constexpr int kAdtsHeaderBytes = 7;
// Bytes read of each frame header (the header and its CRC, with room).
constexpr int kAdtsReadBytes = 10;
// Bytes of the ADIF header read after the magic.
constexpr int kAdifReadBytes = 30;
// The ADIF fields from the bit rate to the sampling index take 8 bytes; with
// the copyright identification 9 more.
constexpr int kAdifFieldBytes = 8;
constexpr int kAdifCopyrightBytes = 9;

bool adtsSync(const uint8_t* b) {
    return b[0] == 0xFF && (b[1] & 0xF6) == 0xF0;
}

// Skips `n` bytes by reading them; false when the stream ends first.
bool skipByReading(FILE* f, uint64_t n) {
    uint8_t buf[4096];
    while (n > 0) {
        size_t want = n < sizeof buf ? static_cast<size_t>(n) : sizeof buf;
        if (std::fread(buf, 1, want, f) != want) return false;
        n -= want;
    }
    return true;
}

int parseAdif(FILE* f, AacInfo& info) {
    info.headerType = kAacAdif;
    uint8_t h[kAdifReadBytes] = {0};
    size_t got = std::fread(h, 1, sizeof h, f);
    const uint8_t* b = h;
    size_t need = kAdifFieldBytes;
    if (got >= 1 && (h[0] & 0x80)) {
        b += kAdifCopyrightBytes;
        need += kAdifCopyrightBytes;
    }
    if (got < need) return kAacInfoBadHeader;
    // 23 bits of bit rate after the four flag bits: the last three are the
    // top bits of b3.
    info.bitRate = static_cast<int32_t>((b[0] & 0x0Fu) << 19 | unsigned(b[1]) << 11 |
                                        unsigned(b[2]) << 3 | unsigned(b[3]) >> 5);
    int index;
    if (b[0] & 0x10) { // variable bit rate: no buffer fullness field
        info.objectType = (b[4] >> 3) & 3;
        index = (b[4] & 7) << 1 | b[5] >> 7;
    } else {
        info.objectType = (b[6] & 1) << 1 | b[7] >> 7;
        index = (b[7] >> 3) & 15;
    }
    info.samplingRate = aacSamplingRate(index);
    return info.samplingRate > 0 ? kAacInfoOk : kAacInfoBadHeader;
}

// Scans every ADTS frame from `start`. A frame stated shorter than its
// header, or reaching past the end of the file, ends the scan.
int scanAdts(FILE* f, int64_t start, AacInfo& info, std::vector<int64_t>* seekTable) {
    info.headerType = kAacAdts;
    int64_t pos = start;
    uint64_t frames = 0, total = 0;
    int index = -1;
    bool idBit = false;
    for (;;) {
        if (fseeko(f, static_cast<off_t>(pos), SEEK_SET) != 0) break;
        uint8_t h[kAdtsReadBytes];
        size_t got = std::fread(h, 1, sizeof h, f);
        if (got < kAdtsHeaderBytes || !adtsSync(h)) break;
        if (frames == 0 && index < 0) {
            idBit = (h[1] & 0x08) != 0;
            info.objectType = h[2] >> 6;
            index = (h[2] >> 2) & 15;
            info.channels = (h[2] & 1) << 2 | h[3] >> 6;
            if (aacSamplingRate(index) == 0) return kAacInfoBadHeader;
        }
        info.version = idBit ? 2 : 4;
        const int length = (h[3] & 3) << 11 | h[4] << 3 | h[5] >> 5;
        if (length < kAdtsHeaderBytes) break;
        // The whole frame must be there.
        if (got < static_cast<size_t>(length < kAdtsReadBytes ? length : kAdtsReadBytes)) break;
        if (length > kAdtsReadBytes) {
            if (fseeko(f, static_cast<off_t>(pos + length - 1), SEEK_SET) != 0 ||
                std::fgetc(f) == EOF)
                break;
        }
        if (seekTable && frames % kAacSeekGroup == 0) seekTable->push_back(pos);
        ++frames;
        total += static_cast<uint64_t>(length);
        pos += length;
    }
    if (index < 0) return kAacInfoOk; // not even one header: nothing more to say
    info.samplingRate = aacSamplingRate(index);
    if (frames == 0) return kAacInfoOk; // the first frame is cut short: no rate, no length
    const double framesPerSecond = info.samplingRate / 1024.0;
    const uint64_t average = total / frames;
    info.bitRate = static_cast<int32_t>(static_cast<int64_t>(average * framesPerSecond + 0.5) * 8);
    info.lengthMs = static_cast<int32_t>(static_cast<int64_t>(frames / framesPerSecond) * 1000);
    return kAacInfoOk;
}

} // namespace

int32_t aacSamplingRate(int index) {
    static const int32_t kRates[12] = {96000, 88200, 64000, 48000, 44100, 32000,
                                       24000, 22050, 16000, 12000, 11025, 8000};
    return index >= 0 && index < 12 ? kRates[index] : 0;
}

int aacStreamInfo(FILE* f, AacInfo& info, std::vector<int64_t>* seekTable) {
    info = AacInfo();
    if (seekTable) seekTable->clear();
    const int64_t origin = ftello(f);
    if (origin < 0) return kAacInfoUnreadable;
    int64_t start = origin;
    uint8_t id3[10];
    size_t got = std::fread(id3, 1, sizeof id3, f);
    if (got == sizeof id3 && std::memcmp(id3, "ID3", 3) == 0) {
        const uint64_t size = uint64_t(id3[6] & 0x7F) << 21 | uint64_t(id3[7] & 0x7F) << 14 |
                              uint64_t(id3[8] & 0x7F) << 7 | uint64_t(id3[9] & 0x7F);
        if (!skipByReading(f, size)) return kAacInfoUnreadable;
        start = origin + 10 + static_cast<int64_t>(size);
    }
    if (fseeko(f, static_cast<off_t>(start), SEEK_SET) != 0) return kAacInfoUnreadable;
    uint8_t m[4] = {0};
    got = std::fread(m, 1, 2, f);
    if (got == 2 && m[0] == 'A' && m[1] == 'D' && std::fread(m + 2, 1, 2, f) == 2 &&
        std::memcmp(m, "ADIF", 4) == 0)
        return parseAdif(f, info);
    if (got == 2 && adtsSync(m)) return scanAdts(f, start, info, seekTable);
    info.version = 2;
    info.bitRate = 128000;
    info.samplingRate = 44100;
    info.channels = 2;
    info.headerType = kAacNoHeader;
    info.objectType = 1;
    return kAacInfoOk;
}

bool beginsAacStream(const std::string& path) {
    FILE* f = openSource(path);
    if (!f) return false;
    int64_t pos = 0;
    uint8_t h[kAdtsReadBytes];
    bool found = false;
    if (std::fread(h, 1, 10, f) == 10 && std::memcmp(h, "ID3", 3) == 0)
        pos = 10 + (int64_t(h[6] & 0x7F) << 21 | int64_t(h[7] & 0x7F) << 14 |
                    int64_t(h[8] & 0x7F) << 7 | int64_t(h[9] & 0x7F));
    int frames = 0;
    uint8_t first[4] = {};
    while (frames < 3) {
        if (fseeko(f, static_cast<off_t>(pos), SEEK_SET) != 0) break;
        const size_t got = std::fread(h, 1, kAdtsHeaderBytes, f);
        if (got == 0 && frames > 0) { // the frames end with the file
            found = true;
            break;
        }
        if (got < 4) break;
        if (frames == 0 && std::memcmp(h, "ADIF", 4) == 0) {
            found = true;
            break;
        }
        if (got < kAdtsHeaderBytes || !adtsSync(h) || aacSamplingRate((h[2] >> 2) & 15) == 0) break;
        if (frames == 0) std::memcpy(first, h, 4);
        // The same stream: rate, object type and channel configuration.
        if ((h[2] & 0xFD) != (first[2] & 0xFD) || (h[3] >> 6) != (first[3] >> 6)) break;
        const int length = (h[3] & 3) << 11 | h[4] << 3 | h[5] >> 5;
        if (length < kAdtsHeaderBytes) break;
        pos += length;
        ++frames;
        found = frames == 3;
    }
    std::fclose(f);
    return found;
}

int aacStreamInfo(const std::string& path, AacInfo& info, std::vector<int64_t>* seekTable) {
    info = AacInfo();
    FILE* f = openSource(path);
    if (!f) return kAacInfoUnreadable;
    int rc = aacStreamInfo(f, info, seekTable);
    std::fclose(f);
    return rc;
}

} // namespace kestrel
