// The reading loops of MPEG sources, shared by the playback threads and the
// conversion driver: MPEG audio files (frame assembler fed in 256- or
// 1024-byte chunks) and MPEG program, PES, elementary and transport streams
// (the demultiplexer fed in 3760-byte chunks). Each loop polls `running`,
// `paused` and `seek_request` once per chunk, decodes into pcm_buffer and
// hands the PCM to pcm_sink.
#pragma once

#include "engine/convert/pcm_stage.h"

#include <cstdint>
#include <string>

namespace kestrel {

struct ReaderEntry {
    std::string path;
    uint32_t fileSize = 0;
    int32_t durationSec = 0;
    int32_t sourceRate = 44100;
    int32_t kind = 0;
    double rateRatio = 1.0;
};

// Called whenever the whole second of the position changes.
using PositionReport = void (*)(int second, void* context);

// Caption of the "cannot open" message box of the reading loops.
enum class ReaderResult { Ended = 0, OpenFailed = -1, NotMpegAudio = -2 };

// MPEG audio file: reads from the first confirmed frame. The libraries the
// stream needs must be loaded (mpadec_ext; ac3stream for AC-3).
ReaderResult read_mpeg_audio_file(const ReaderEntry& e, PcmOutput* out, PositionReport report,
                                  void* context);
// MPEG stream in the demultiplexer mode given by the entry's kind.
ReaderResult read_mpeg_stream(const ReaderEntry& e, PcmOutput* out, PositionReport report,
                              void* context);

// Byte offset of a seek to `second` (proportional, a multiple of 188).
uint64_t seek_offset(int second, int durationSec, uint64_t fileSize);

} // namespace kestrel
