#include "engine/containers/mpeg_audio_frame.h"

#include "engine/captions.h"
#include "engine/containers/texts.h"
#include "platform/ports.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace kestrel {
namespace {

constexpr int kBitRates[5][16] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0}, // V1 L1
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},    // V1 L2
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},     // V1 L3
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},    // V2 L1
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},         // V2 L2/L3
};
constexpr int kSampleRates[3][3] = {
    {44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

constexpr size_t kHeadBytes = 8000;

uint32_t be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// Same first two bytes, and the same bit-rate nibble or the same fourth byte.
bool sameStream(const uint8_t* a, const uint8_t* b) {
    return a[0] == b[0] && a[1] == b[1] && ((a[2] & 0xF0) == (b[2] & 0xF0) || a[3] == b[3]);
}

struct Head {
    std::vector<uint8_t> bytes; // the search region (after any ID3v2 tag)
    int64_t regionOffset = 0;   // file offset of bytes[0]
    uint64_t fileSize = 0;
    size_t firstRead = 0;
};

// Opens the file and reads the search region. -1 when it cannot be opened.
int readHead(const std::string& path, Head& h, size_t after) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return -1;
    if (fseeko(f, 0, SEEK_END) == 0) {
        off_t end = ftello(f);
        h.fileSize = end > 0 ? uint64_t(end) : 0;
    }
    fseeko(f, 0, SEEK_SET);
    h.bytes.resize(kHeadBytes);
    h.firstRead = std::fread(h.bytes.data(), 1, kHeadBytes, f);
    h.bytes.resize(h.firstRead);
    if (h.firstRead >= 10 && std::memcmp(h.bytes.data(), "ID3", 3) == 0) {
        const uint8_t* s = h.bytes.data() + 6;
        int64_t tag = ((int64_t(s[0] & 0x7F) << 21) | ((s[1] & 0x7F) << 14) | ((s[2] & 0x7F) << 7) |
                       (s[3] & 0x7F)) +
                      10;
        if (size_t(tag) + after > h.firstRead) {
            // Read the region behind the tag itself rather than the whole tag.
            h.bytes.assign(kHeadBytes, 0);
            size_t got = 0;
            if (fseeko(f, off_t(tag), SEEK_SET) == 0)
                got = std::fread(h.bytes.data(), 1, kHeadBytes, f);
            h.bytes.resize(got);
        } else {
            h.bytes.erase(h.bytes.begin(), h.bytes.begin() + tag);
        }
        h.regionOffset = tag;
    }
    std::fclose(f);
    return 0;
}

void findVbrHeader(const std::vector<uint8_t>& b, int& kind, uint32_t& frames) {
    kind = kVbrNone;
    frames = 0;
    for (size_t i = 0; i < 500 && i + 18 <= b.size(); ++i) {
        const uint8_t* p = b.data() + i;
        if (std::memcmp(p, "VBRI", 4) == 0) {
            kind = kVbrVbri;
            frames = be32(p + 14);
            return;
        }
        if (std::memcmp(p, "Xing", 4) == 0 || std::memcmp(p, "xing", 4) == 0) {
            kind = kVbrXing;
            frames = be32(p + 8);
            return;
        }
    }
}

// After the header at `at`, the next header of the same stream whose facts
// can be read; -1 when none is found before the last 10 bytes.
int64_t confirmingHeader(const std::vector<uint8_t>& b, size_t at, MpegAudioHeader& hdr) {
    for (size_t j = at + 1; j + 10 < b.size(); ++j) {
        if (sameStream(b.data() + at, b.data() + j) && parseMpegAudioHeader(b.data() + j, hdr))
            return int64_t(j);
    }
    return -1;
}

} // namespace

bool isMpegAudioSync(const uint8_t* p) {
    return p[0] == 0xFF && p[1] >= 0xE0 && p[1] != 0xFF && (p[1] & 0x18) != 0x08 &&
           (p[1] & 0x06) != 0;
}

bool parseMpegAudioHeader(const uint8_t* p, MpegAudioHeader& h) {
    if (!isMpegAudioSync(p)) return false;
    int ver = (p[1] >> 3) & 3; // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    int layerBits = (p[1] >> 1) & 3;
    int brIndex = p[2] >> 4;
    int srIndex = (p[2] >> 2) & 3;
    if (brIndex == 15 || srIndex == 3) return false;
    h.versionIndex = ver == 3 ? 0 : ver == 2 ? 1 : 2;
    h.layer = 4 - layerBits;
    int table = h.versionIndex == 0 ? h.layer - 1 : (h.layer == 1 ? 3 : 4);
    h.bitRateKbps = kBitRates[table][brIndex];
    h.sampleRate = kSampleRates[h.versionIndex][srIndex];
    h.padding = (p[2] >> 1) & 1;
    h.channelMode = p[3] >> 6;
    h.channels = h.channelMode == 3 ? 1 : 2;
    if (h.layer == 1)
        h.samplesPerFrame = 384;
    else if (h.layer == 2 || h.versionIndex == 0)
        h.samplesPerFrame = 1152;
    else
        h.samplesPerFrame = 576;
    if (h.bitRateKbps == 0)
        h.frameBytes = 0;
    else if (h.layer == 1)
        h.frameBytes = (12 * h.bitRateKbps * 1000 / h.sampleRate + h.padding) * 4;
    else
        h.frameBytes = h.samplesPerFrame / 8 * h.bitRateKbps * 1000 / h.sampleRate + h.padding;
    return true;
}

int findFrameSync(const uint8_t* b, size_t length) {
    if (!b || length < 200) return -1;
    for (size_t i = 0; i + 200 <= length; ++i) {
        if (!isMpegAudioSync(b + i)) continue;
        for (size_t d = 1; d <= 1100 && i + 2 * d + 200 <= length; ++d) {
            if (sameStream(b + i, b + i + d) && sameStream(b + i, b + i + 2 * d)) return int(i);
        }
    }
    return -1;
}

int64_t mpegAudioInfo(const std::string& path, MpegAudioFileInfo& info) {
    info = MpegAudioFileInfo{};
    Head h;
    if (readHead(path, h, 4000) < 0) return -1;
    info.fileSize = h.fileSize;
    if (h.firstRead < 500) return -1;
    findVbrHeader(h.bytes, info.vbrKind, info.vbrFrames);
    int at = findFrameSync(h.bytes.data(), h.bytes.size());
    if (at < 0) return -2;
    MpegAudioHeader hdr;
    if (confirmingHeader(h.bytes, size_t(at), hdr) < 0) return -3;
    info.versionIndex = hdr.versionIndex;
    info.layer = hdr.layer;
    info.sampleRate = hdr.sampleRate;
    info.channels = hdr.channels;
    info.bitRateKbps = hdr.bitRateKbps;
    if (info.vbrKind != kVbrNone)
        info.durationSec =
            uint32_t(uint64_t(hdr.samplesPerFrame) * info.vbrFrames / hdr.sampleRate);
    else if (hdr.bitRateKbps > 0)
        info.durationSec = uint32_t(info.fileSize * 8 / (uint64_t(hdr.bitRateKbps) * 1024));
    info.firstFrame = h.regionOffset + at;
    return info.firstFrame;
}

int mpegAudioStart(const std::string& path, int64_t& firstFrame, int& vbrKind) {
    Head h;
    firstFrame = -1;
    vbrKind = kVbrNone;
    if (readHead(path, h, kHeadBytes) < 0) return -1;
    uint32_t frames = 0;
    findVbrHeader(h.bytes, vbrKind, frames);
    int at = findFrameSync(h.bytes.data(), h.bytes.size());
    if (at < 0) {
        showMessage(caption::kMain, text::kNotMp3File);
        return -2;
    }
    MpegAudioHeader hdr;
    if (confirmingHeader(h.bytes, size_t(at), hdr) < 0) {
        showMessage(caption::kMain, text::kMp3AnalysisError);
        return -3;
    }
    firstFrame = h.regionOffset + at;
    return hdr.versionIndex;
}

} // namespace kestrel
