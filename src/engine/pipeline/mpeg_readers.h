// The reading loops of MPEG sources, shared by the playback threads and the
// conversion driver: MPEG audio files (frame assembler fed in 256- or
// 1024-byte chunks) and MPEG program, PES, elementary and transport streams
// (the demultiplexer fed in 3760-byte chunks). Each loop polls `running`,
// `paused` and `seek_request` once per chunk, decodes into pcm_buffer and
// hands the PCM to pcm_sink.
#pragma once

#include "engine/pipeline/pcm_stage.h"

#include <cstdint>
#include <string>

namespace kestrel {

struct ReaderEntry {
    std::string path;
    uint64_t fileSize = 0; // the real size, also past 4 GiB
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

// Positions and seeks are proportional over the bytes from `base` on (the
// first audio frame of an MPEG audio file, so that a tag before it does not
// count as playing time; 0 for streams). Neither divides by a duration or a
// size of 0 (a free-format or damaged file may have duration 0).
//
// Byte offset of a seek to `second`: base + a multiple of 188.
uint64_t seek_offset(int second, int durationSec, uint64_t fileSize, uint64_t base = 0);
// The whole second shown when `consumed` bytes of the file have been read.
int position_second(uint64_t consumed, int durationSec, uint64_t fileSize, uint64_t base = 0);

} // namespace kestrel
