#include "engine/containers/mpeg_audio_frame.h"

#include "engine/core/captions.h"
#include "engine/containers/gapless.h"
#include "engine/containers/texts.h"
#include "platform/ports.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace kestrel {
namespace {

constexpr size_t kHeadBytes = 8000;

uint32_t be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

struct Head {
    std::vector<uint8_t> bytes; // the search region (after any ID3v2 tag)
    int64_t regionOffset = 0;   // file offset of bytes[0]
    uint64_t fileSize = 0;
    size_t firstRead = 0;
};

// An ID3v2 tag whose size bytes are not sync-safe is searched at most this far.
constexpr uint64_t kMaxTagSearch = 16u << 20;
// Free-format header candidates measured before the search gives up on them.
constexpr int kMaxFreeFormatTries = 256;

void readRegion(FILE* f, int64_t offset, size_t length, Head& h) {
    h.bytes.assign(length, 0);
    size_t got = 0;
    if (fseeko(f, off_t(offset), SEEK_SET) == 0) got = std::fread(h.bytes.data(), 1, length, f);
    h.bytes.resize(got);
    h.regionOffset = offset;
}

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
        if ((s[0] | s[1] | s[2] | s[3]) & 0x80) {
            // The size bytes are not sync-safe, so the tag's end is unknown:
            // search from the end of the tag header, as far as the size read
            // as a plain number reaches plus the usual margin.
            uint64_t reach = std::min<uint64_t>(uint64_t(be32(s)) + after, kMaxTagSearch);
            readRegion(f, 10, size_t(std::max<uint64_t>(reach, kHeadBytes)), h);
        } else {
            int64_t tag = ((int64_t(s[0]) << 21) | (s[1] << 14) | (s[2] << 7) | s[3]) + 10;
            if (size_t(tag) + after > h.firstRead) {
                // Read the region behind the tag itself rather than the whole tag.
                readRegion(f, tag, kHeadBytes, h);
            } else {
                h.bytes.erase(h.bytes.begin(), h.bytes.begin() + tag);
                h.regionOffset = tag;
            }
        }
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

// The first confirmed frame of the region: 1 found (offset, free-format
// frame length), -2 no header candidate at all, -3 candidates but none
// confirmed.
int findStart(const uint8_t* b, size_t length, int& at, int& freeBytes) {
    bool candidate = false;
    int freeTries = 0;
    at = -1;
    freeBytes = 0;
    if (!b || length < 200) return -2;
    for (size_t i = 0; i + 200 <= length; ++i) {
        if (b[i] != 0xFF) continue;
        MpegAudioHeader h;
        if (!parseMpegAudioHeader(b + i, h)) continue;
        candidate = true;
        // Measuring a free-format frame looks at every length a frame can
        // have; a region full of such false headers would take minutes.
        if (h.bitRateKbps == 0 && ++freeTries > kMaxFreeFormatTries) continue;
        if (confirmMpegAudioStart(b + i, length - i, freeBytes) == 1) {
            at = int(i);
            return 1;
        }
    }
    freeBytes = 0;
    return candidate ? -3 : -2;
}

// The frame that ends where the sound's first confirmed frame starts, when it
// is a Xing/Info or VBRI tag frame of the same stream: encoders write it with
// copyright and original bits and a bit rate of their own (FFmpeg's has the
// original bit clear where the sound's frames set it), so it does not confirm
// as a frame of the stream, yet the sound and its gapless facts start there.
// Returns its offset, or `at` when there is none.
int tagFrameBefore(const uint8_t* b, int at) {
    for (int j = 0; j < at; ++j) {
        if (b[j] != 0xFF) continue;
        MpegAudioHeader h, s;
        if (!parseMpegAudioHeader(b + j, h) || h.frameBytes != at - j) continue;
        if (!parseMpegAudioHeader(b + at, s) || h.versionIndex != s.versionIndex ||
            h.layer != s.layer || h.sampleRate != s.sampleRate || h.channels != s.channels)
            continue;
        const size_t n = size_t(at - j);
        if (parseGaplessTag(b + j, n).tagFrame) return j;
        if (n >= 40 && std::memcmp(b + j + 36, "VBRI", 4) == 0) return j;
    }
    return at;
}

// Junk in front of the first frame (a damaged download, another file's
// remains) is searched through this far.
constexpr uint64_t kMaxJunkSearch = 4u << 20;
// Bytes of one further search window, and how far windows overlap (a frame
// confirmation reaches three frames on).
constexpr size_t kSearchWindow = 65536;
constexpr size_t kWindowOverlap = 8000;

// The first confirmed frame (findStart), searched beyond the head region
// when the region has none: the region then moves to the window that holds
// the frame, starting a little before it so that a tag frame in front of it
// is seen.
int locateStart(const std::string& path, Head& h, int& at, int& freeBytes) {
    int rc = findStart(h.bytes.data(), h.bytes.size(), at, freeBytes);
    if (rc == 1 || h.bytes.size() < kWindowOverlap) return rc;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return rc;
    const uint64_t limit =
        std::min<uint64_t>(h.fileSize, uint64_t(h.regionOffset) + kMaxJunkSearch);
    uint64_t offset = uint64_t(h.regionOffset) + h.bytes.size() - kWindowOverlap;
    Head w;
    w.fileSize = h.fileSize;
    while (offset + kWindowOverlap < limit) {
        readRegion(f, int64_t(offset), kSearchWindow, w);
        if (w.bytes.size() < kWindowOverlap) break;
        if (findStart(w.bytes.data(), w.bytes.size(), at, freeBytes) == 1) {
            const uint64_t frame = offset + uint64_t(at);
            const uint64_t from = frame > 3000 ? frame - 3000 : 0;
            readRegion(f, int64_t(from), kSearchWindow, w);
            if (findStart(w.bytes.data(), w.bytes.size(), at, freeBytes) == 1) {
                w.firstRead = h.firstRead;
                h = std::move(w);
                std::fclose(f);
                return 1;
            }
        }
        offset += w.bytes.size() - kWindowOverlap;
    }
    std::fclose(f);
    return rc;
}

} // namespace

int findFrameSync(const uint8_t* b, size_t length) {
    int at, freeBytes;
    return findStart(b, length, at, freeBytes) == 1 ? at : -1;
}

int64_t mpegAudioInfo(const std::string& path, MpegAudioFileInfo& info) {
    info = MpegAudioFileInfo{};
    Head h;
    if (readHead(path, h, 4000) < 0) return -1;
    info.fileSize = h.fileSize;
    if (h.firstRead < 500) return -1;
    findVbrHeader(h.bytes, info.vbrKind, info.vbrFrames);
    int at, freeBytes;
    int rc = locateStart(path, h, at, freeBytes);
    if (rc < 0) return rc;
    const int sound = at;
    at = tagFrameBefore(h.bytes.data(), at);
    // The stream facts come from the confirming header.
    MpegAudioHeader hdr;
    size_t next = size_t(sound) + size_t(mpegFrameLength(h.bytes.data() + sound, freeBytes));
    if (!parseMpegAudioHeader(h.bytes.data() + next, hdr)) return -3;
    info.firstFrame = h.regionOffset + at;
    info.versionIndex = hdr.versionIndex;
    info.layer = hdr.layer;
    info.sampleRate = hdr.sampleRate;
    info.channels = hdr.channels;
    info.bitRateKbps = hdr.bitRateKbps;
    info.freeFrameBytes = freeBytes;
    // Only the bytes from the first frame on are sound.
    uint64_t audioBytes =
        info.fileSize > uint64_t(info.firstFrame) ? info.fileSize - uint64_t(info.firstFrame) : 0;
    if (info.vbrKind != kVbrNone)
        info.durationSec =
            uint32_t(uint64_t(hdr.samplesPerFrame) * info.vbrFrames / hdr.sampleRate);
    else if (hdr.bitRateKbps > 0)
        info.durationSec = uint32_t(audioBytes * 8 / (uint64_t(hdr.bitRateKbps) * 1024));
    else if (freeBytes > 0)
        // Free format: as many frames as the measured length gives.
        info.durationSec = uint32_t(audioBytes / uint64_t(freeBytes) *
                                    uint64_t(hdr.samplesPerFrame) / uint64_t(hdr.sampleRate));
    return info.firstFrame;
}

int mpegAudioStart(const std::string& path, int64_t& firstFrame, int& vbrKind) {
    Head h;
    firstFrame = -1;
    vbrKind = kVbrNone;
    if (readHead(path, h, kHeadBytes) < 0) return -1;
    uint32_t frames = 0;
    findVbrHeader(h.bytes, vbrKind, frames);
    int at, freeBytes;
    int rc = locateStart(path, h, at, freeBytes);
    if (rc == -2) {
        showMessage(caption::kMain, text::kNotMp3File);
        return -2;
    }
    MpegAudioHeader hdr;
    if (rc < 0 || !parseMpegAudioHeader(h.bytes.data() + at, hdr)) {
        showMessage(caption::kMain, text::kMp3AnalysisError);
        return -3;
    }
    // The first frame of the confirmed run is where the sound starts, or the
    // tag frame in front of it.
    firstFrame = h.regionOffset + tagFrameBefore(h.bytes.data(), at);
    return hdr.versionIndex;
}

} // namespace kestrel
