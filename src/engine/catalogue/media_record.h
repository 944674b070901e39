// The media record: the fixed 752-byte entry of the media list, copied and
// stored as raw bytes (it is also the unit of the list file mpginfo.dat).
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrel {

#pragma pack(push, 4)
struct MediaRecord {
    int32_t serial;        // sequence number in this run (column "序号")
    char path[512];        // the path's own bytes, NUL-terminated
    int32_t bitsPerSample; // 8 or 16 where stated, else the probe's first value; 0 unknown
    int32_t bitRate;       // bits per second
    uint8_t pad0[4];
    double sampleRate; // Hz
    int32_t formatDetail;
    int32_t streamDetail;
    uint32_t fileSize;
    int32_t durationSec;
    int32_t startInfo;
    int32_t kind; // audio kind code: selects reader, player and converter
    int32_t channels;
    int32_t videoIndex;
    int32_t audioIndex;
    uint8_t pad1[4];
    uint8_t mpeg4Video[80]; // float64 frame rate at byte 48
    uint8_t mpeg4Audio[64]; // int32 channels at byte 52, int32 rate at byte 56
    char typeName[32];      // "MP3", "MPEG1/2 PS", ...
};
#pragma pack(pop)

static_assert(sizeof(MediaRecord) == 752);
static_assert(offsetof(MediaRecord, path) == 4);
static_assert(offsetof(MediaRecord, bitsPerSample) == 516);
static_assert(offsetof(MediaRecord, bitRate) == 520);
static_assert(offsetof(MediaRecord, sampleRate) == 528);
static_assert(offsetof(MediaRecord, formatDetail) == 536);
static_assert(offsetof(MediaRecord, streamDetail) == 540);
static_assert(offsetof(MediaRecord, fileSize) == 544);
static_assert(offsetof(MediaRecord, durationSec) == 548);
static_assert(offsetof(MediaRecord, startInfo) == 552);
static_assert(offsetof(MediaRecord, kind) == 556);
static_assert(offsetof(MediaRecord, channels) == 560);
static_assert(offsetof(MediaRecord, videoIndex) == 564);
static_assert(offsetof(MediaRecord, audioIndex) == 568);
static_assert(offsetof(MediaRecord, mpeg4Video) == 576);
static_assert(offsetof(MediaRecord, mpeg4Audio) == 656);
static_assert(offsetof(MediaRecord, typeName) == 720);

// The record's 32-bit fileSize holds a file of 4 GiB or more as its largest
// value; the size column, the entry facts, durations, progress and seeks use
// the real 64-bit size, which for such a record is taken from the file.
inline constexpr uint32_t kFileSizeFull = 0xFFFFFFFFu;
uint32_t recordFileSize(uint64_t size);
uint64_t realFileSize(const MediaRecord& rec);

// A zero-filled record.
MediaRecord emptyRecord();
// Copies `text` into a fixed field, cut to fit and NUL-terminated.
void setField(char* field, size_t size, const char* text);

} // namespace kestrel
