#include "engine/containers/flv.h"

#include <algorithm>
#include <cstring>
#include <sys/types.h>

namespace kestrel {

namespace {

uint32_t be24(const uint8_t* p) {
    return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
}

uint32_t be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | be24(p + 1);
}

bool seekTo(FILE* f, uint64_t pos) {
    return fseeko(f, static_cast<off_t>(pos), SEEK_SET) == 0;
}

} // namespace

double flvRate(int code) {
    static const double rates[4] = {5512.5, 11025, 22050, 44100};
    return rates[code & 3];
}

bool readFlvHeader(FILE* f, uint64_t fileSize, uint64_t& firstTag) {
    uint8_t h[9];
    if (!seekTo(f, 0) || std::fread(h, 1, 9, f) != 9) return false;
    if (h[0] != 'F' || h[1] != 'L' || h[2] != 'V' || h[3] != 1) return false;
    uint64_t size = be32(h + 5);
    // A header size below the header itself would read the header as a tag.
    firstTag = std::max<uint64_t>(size, 9);
    (void)fileSize;
    return true;
}

int64_t walkFlvTags(FILE* f, uint64_t fileSize, const std::function<bool(const FlvTag&)>& visit) {
    uint64_t pos = 0;
    if (!readFlvHeader(f, fileSize, pos)) return -1;
    int64_t count = 0;
    while (pos + 15 <= fileSize) {
        uint8_t t[15];
        if (!seekTo(f, pos) || std::fread(t, 1, 15, f) != 15) break;
        FlvTag tag;
        tag.position = pos;
        tag.type = t[4];
        tag.dataSize = be24(t + 5);
        tag.timestamp = be24(t + 8) | (uint32_t(t[11]) << 24);
        const uint64_t data = pos + 15;
        const uint64_t left = fileSize - data;
        tag.available = static_cast<uint32_t>(std::min<uint64_t>(tag.dataSize, left));
        ++count;
        if (!visit(tag)) break;
        if (tag.available < tag.dataSize) break; // the file ends inside this tag
        pos = data + tag.dataSize;
    }
    return count;
}

int buildFlvIndex(FILE* f, uint64_t fileSize, std::vector<FlvIndexEntry>& index) {
    index.clear();
    walkFlvTags(f, fileSize, [&](const FlvTag& tag) {
        // An audio tag without its header byte carries no sound.
        if (tag.type != 8 || tag.available < 1) return true;
        FlvIndexEntry e;
        e.offset = tag.dataOffset() + 1;
        e.length = tag.available - 1;
        e.timestamp = tag.timestamp;
        index.push_back(e);
        return index.size() < kFlvIndexMax;
    });
    seekTo(f, 0);
    return static_cast<int>(index.size());
}

namespace {

// Sample frames in an audio tag of `bytes` payload bytes (after the header
// byte `h`) whose format states its length; 0 for the others. `first` is
// the payload's first byte (Flash ADPCM: its code size field).
uint64_t tagSamples(uint8_t h, uint32_t bytes, uint8_t first) {
    const int format = h >> 4;
    const uint64_t channels = (h & 1) ? 2 : 1;
    if (format == kFlvPcm || format == kFlvPcmLe) return bytes / (channels * ((h & 2) ? 2 : 1));
    if (format != kFlvAdpcm || bytes < 1) return 0;
    const uint64_t codeBits = (first >> 6) + 2;
    const uint64_t bits = uint64_t(bytes) * 8 - 2;
    const uint64_t packet = channels * (22 + 4095 * codeBits);
    const uint64_t rest = bits % packet;
    uint64_t samples = bits / packet * 4096;
    if (rest >= 22 * channels) samples += 1 + (rest - 22 * channels) / (codeBits * channels);
    return samples;
}

} // namespace

int scanFlvAudio(FILE* f, uint64_t fileSize, FlvAudioScan& scan) {
    scan = FlvAudioScan();
    int64_t n = walkFlvTags(f, fileSize, [&](const FlvTag& tag) {
        scan.lastTimestamp = tag.timestamp;
        if (tag.type != 8 || tag.available < 1) return true;
        uint8_t head[2] = {0, 0};
        if (!seekTo(f, tag.dataOffset()) || std::fread(head, 1, tag.available >= 2 ? 2 : 1, f) < 1)
            return false;
        const double rate = flvRate((head[0] >> 2) & 3);
        scan.lastSoundEndMs =
            tag.timestamp + double(tagSamples(head[0], tag.available - 1, head[1])) * 1000 / rate;
        if (scan.audioTags == 0) {
            uint8_t b = 0;
            if (!seekTo(f, tag.dataOffset()) || std::fread(&b, 1, 1, f) != 1) return false;
            scan.soundFormat = b >> 4;
            scan.sampleRate = flvRate((b >> 2) & 3);
            scan.channels = (b & 1) ? 2 : 1;
            scan.bitsPerSample = (b & 2) ? 16 : 8;
            size_t keep = std::min<size_t>(tag.available - 1, 4096);
            scan.firstPayload.resize(keep);
            if (std::fread(scan.firstPayload.data(), 1, keep, f) != keep) scan.firstPayload.clear();
        }
        ++scan.audioTags;
        return true;
    });
    seekTo(f, 0);
    if (n < 0) return -1;
    scan.isFlv = true;
    return 0;
}

} // namespace kestrel
