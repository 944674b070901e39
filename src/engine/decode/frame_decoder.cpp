#include "engine/decode/frame_decoder.h"

#include "engine/core/mpeg_audio_header.h"
#include "engine/decode/mpa_layer12.h"
#include "engine/decode/mpa_layer3.h"

#include <cstring>
#include <memory>
#include <new>

namespace kestrel {
namespace {

enum class LayerRoutine { Layer1, Layer2, Layer3 };

struct FrameSlot {
    FrameSlotInfo info{};
    LayerRoutine routine = LayerRoutine::Layer3;
    mpa::Layer3State core; // its synthesis state also serves Layers I and II
    uint8_t frame[kFrameRecordData + 8];
    int16_t pcm[1152 * 2];
};

std::unique_ptr<FrameSlot> gSlots[kFrameDecoderSlots];

int32_t readLe32(const uint8_t* p) {
    return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                   uint32_t(p[3]) << 24);
}

uint32_t readBe32(const uint8_t* p) {
    return mpegHeaderWord(p);
}

// Reads the record's frame; false for a length outside 4..kFrameRecordData or a header
// that does not parse (free format included).
bool recordHeader(const uint8_t* record, int& length, MpegAudioHeader& h) {
    length = readLe32(record + kFrameRecordData);
    if (length < 4 || length > kFrameRecordData) return false;
    return parseMpegAudioHeader(record, h) && h.frameBytes > 0;
}

// Xing/Info (after the side information) or VBRI (32 bytes after the header).
void readVbrHeader(const uint8_t* f, int length, const MpegAudioHeader& h, FrameSlotInfo& info) {
    if (h.layer != 3) return;
    int xing = h.headerBytes + h.sideInfoBytes;
    if (xing + 8 <= length &&
        (!std::memcmp(f + xing, "Xing", 4) || !std::memcmp(f + xing, "Info", 4))) {
        info.vbrKind = 2;
        uint32_t flags = readBe32(f + xing + 4);
        int p = xing + 8;
        if ((flags & 1) && p + 4 <= length) info.vbrFrames = int32_t(readBe32(f + p)), p += 4;
        if ((flags & 2) && p + 4 <= length) info.vbrBytes = int32_t(readBe32(f + p));
        return;
    }
    int vbri = 4 + 32;
    if (vbri + 18 <= length && !std::memcmp(f + vbri, "VBRI", 4)) {
        info.vbrKind = 1;
        info.vbrBytes = int32_t(readBe32(f + vbri + 10));
        info.vbrFrames = int32_t(readBe32(f + vbri + 14));
    }
}

} // namespace

void makeFrameRecord(uint8_t* record, const uint8_t* bytes, int length) {
    if (length < 0) length = 0;
    if (length > kFrameRecordData) length = kFrameRecordData;
    std::memset(record, 0, kFrameRecordBytes);
    if (length) std::memcpy(record, bytes, size_t(length));
    uint32_t n = uint32_t(length);
    record[kFrameRecordData] = uint8_t(n);
    record[kFrameRecordData + 1] = uint8_t(n >> 8);
    record[kFrameRecordData + 2] = uint8_t(n >> 16);
    record[kFrameRecordData + 3] = uint8_t(n >> 24);
}

int mp3_open(int slot, const uint8_t* firstRecord) {
    if (slot < 0 || slot >= kFrameDecoderSlots || !firstRecord) return 0;
    int length;
    MpegAudioHeader h;
    if (!recordHeader(firstRecord, length, h)) return 0;
    if (!gSlots[slot]) {
        gSlots[slot].reset(new (std::nothrow) FrameSlot);
        if (!gSlots[slot]) return 0;
    }
    FrameSlot& s = *gSlots[slot];
    mpa::resetLayer3(s.core);
    s.info = FrameSlotInfo{};
    s.info.layer = h.layer;
    s.info.version = h.versionIndex;
    s.info.sampleRate = h.sampleRate;
    s.info.channels = h.channels;
    s.info.bitrate = h.bitRateKbps * 1000;
    readVbrHeader(firstRecord, length, h, s.info);
    s.routine = h.layer == 1   ? LayerRoutine::Layer1
                : h.layer == 2 ? LayerRoutine::Layer2
                               : LayerRoutine::Layer3;
    return 1;
}

int mp3_play(int slot, const uint8_t* records, int count, uint8_t* out, int space) {
    if (slot < 0 || slot >= kFrameDecoderSlots || !gSlots[slot] || count < 0) return -1;
    if (count > 0 && (!records || !out)) return -1;
    FrameSlot& s = *gSlots[slot];
    int total = 0;
    for (int i = 0; i < count; ++i) {
        const uint8_t* rec = records + size_t(i) * kFrameRecordBytes;
        int length;
        MpegAudioHeader h;
        if (!recordHeader(rec, length, h)) return -1;
        int bytes = h.samplesPerFrame * h.channels * 2;
        if (space - total < bytes) return -1;
        // The frame as far as the record holds it; missing bytes read as zero.
        int frameBytes = h.frameBytes < kFrameRecordData ? h.frameBytes : kFrameRecordData;
        std::memset(s.frame, 0, sizeof s.frame);
        std::memcpy(s.frame, rec, size_t(length < frameBytes ? length : frameBytes));
        // Each frame goes to the routine of its own layer, so that a stream
        // that changes layer does not feed one layer's data to another.
        if (h.layer == 1)
            mpa::decodeLayer1(s.core.synth, h, s.frame, frameBytes, 0, false, s.pcm);
        else if (h.layer == 2)
            mpa::decodeLayer2(s.core.synth, h, s.frame, frameBytes, 0, false, s.pcm);
        else
            mpa::decodeLayer3(s.core, h, s.frame, frameBytes, 0, false, s.pcm);
        uint8_t* o = out + total;
        int samples = bytes / 2;
        for (int k = 0; k < samples; ++k) {
            uint16_t v = uint16_t(s.pcm[k]);
            o[2 * k] = uint8_t(v & 0xFF);
            o[2 * k + 1] = uint8_t(v >> 8);
        }
        total += bytes;
    }
    return total;
}

int mp3_close(int slot) {
    if (slot < 0 || slot >= kFrameDecoderSlots) return -1;
    gSlots[slot].reset();
    return 0;
}

bool mp3_slot_info(int slot, FrameSlotInfo* info) {
    if (slot < 0 || slot >= kFrameDecoderSlots || !gSlots[slot] || !info) return false;
    *info = gSlots[slot]->info;
    return true;
}

} // namespace kestrel
