// The MPEG audio frame decoder: whole frames of Layer I, II or III (MPEG-1,
// MPEG-2 and MPEG-2.5) handed over one by one, in numbered instance slots.
//
// A frame record is 2884 bytes of frame (starting with its 4-byte header)
// followed by a 32-bit little-endian byte count: the slot shape of the
// demultiplexer's frame batches. The calls have the shape of the MPEG audio
// library's mp3_open / mp3_play.
#pragma once

#include <cstdint>

namespace kestrel {

inline constexpr int kFrameRecordBytes = 2888;
inline constexpr int kFrameRecordData = 2884;
inline constexpr int kFrameDecoderSlots = 16; // slot numbers 0..15; the output manager uses 11

// Facts a slot keeps from its first frame.
struct FrameSlotInfo {
    int32_t layer;
    int32_t version; // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
    int32_t sampleRate;
    int32_t channels;
    int32_t bitrate;   // bits per second of the first frame
    int32_t vbrKind;   // 0 none, 1 VBRI, 2 Xing/Info
    int32_t vbrFrames; // frame count of the VBR header (0 when absent)
    int32_t vbrBytes;  // byte count of the VBR header (0 when absent)
};

// Fills a frame record from `bytes` (at most kFrameRecordData are kept).
void makeFrameRecord(uint8_t* record, const uint8_t* bytes, int length);

// Prepares slot `slot` for the stream of the first frame record; returns 1,
// or 0 when the slot number or the header is not usable.
int mp3_open(int slot, const uint8_t* firstRecord);

// Decodes `count` frame records into out (space bytes): 16-bit PCM at the
// stream's rate and channels. Returns the bytes appended, or -1 when a header
// does not parse or a frame's PCM does not fit (nothing is appended from that
// frame on).
int mp3_play(int slot, const uint8_t* records, int count, uint8_t* out, int space);

// Frees the slot's memory; 0, or -1 for a bad slot number.
int mp3_close(int slot);

// The slot's first-frame facts; false when the slot is not open.
bool mp3_slot_info(int slot, FrameSlotInfo* info);

} // namespace kestrel
