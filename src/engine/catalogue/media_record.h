// The media record: the fixed 752-byte entry of the media list, copied and
// stored as raw bytes (it is also the unit of the list file mpginfo.dat).
#pragma once

#include "engine/containers/swf.h"

#include <cstddef>
#include <cstdint>

namespace kestrel {

// The audio kind code of an entry (`MediaRecord::kind`): what every reader,
// player and converter switches on. The values are those of the list file.
enum class MediaKind : int32_t {
    MpegUnsorted = 0,     // an MPEG stream whose audio the probe did not name
    VideoOnly = 2,        // an elementary video stream without audio (refused)
    TransportStream = 3,  // "MPEG2 TS"
    ProgramStreamAc3 = 5, // "MPEG1/2 PS" with AC-3 audio
    ProgramStream = 6,    // "MPEG1/2 PS" with MPEG audio, or "MPEG1/2 PES"
    MpegAudio = 10,       // "MP3", or "MPEG1/2 ES" with MPEG audio
    Ac3Elementary = 11,   // "MPEG1/2 ES" with AC-3 audio
    Mpeg4Avi = 99,
    RealMedia = 6000,
    QuickTime = 7000,
    OtherPlatform = 8000, // any other file the platform media graph decodes
    Amr = 8001,
    Aac = 8002,
    Mtv = 8008,
    Amv = 8009,
    Flv = 8010, // + the sound format (0..15) of the first audio tag
    Swf = 8020, // + the sound format of the sound stream header
    WindowsMedia = 9999,
    Mp4 = 10000, // + 1 AMR narrow-band, 2 AMR wide-band, 3 AAC, 4 MPEG audio
};

// Between the stored code and the kind.
constexpr MediaKind mediaKind(int32_t code) {
    return static_cast<MediaKind>(code);
}
constexpr int32_t kindCode(MediaKind kind) {
    return static_cast<int32_t>(kind);
}
// An SWF entry whose sound format the SWF reader does not decode.
constexpr bool isUnsupportedSwf(MediaKind kind) {
    return !swfSoundDecoded(kindCode(kind) - kindCode(MediaKind::Swf));
}
// Files decoded through the platform media graph.
constexpr bool isPlatformDecoded(MediaKind kind) {
    return kind == MediaKind::RealMedia || kind == MediaKind::QuickTime ||
           kind == MediaKind::OtherPlatform;
}
// MP4, 3GP and M4A files with an AMR, AAC or MPEG audio track.
constexpr bool isMp4Family(MediaKind kind) {
    return kindCode(kind) >= kindCode(MediaKind::Mp4) + 1 &&
           kindCode(kind) <= kindCode(MediaKind::Mp4) + 4;
}

#pragma pack(push, 4)
struct MediaRecord {
    int32_t serial;        // sequence number in this run (column "序号")
    char path[512];        // NUL-terminated; UTF-8 here, GB18030 in the list file
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
