// The reading loops of MPEG sources, shared by the playback threads and the
// conversion driver: MPEG audio files (frame assembler fed in 256- or
// 1024-byte chunks) and MPEG program, PES, elementary and transport streams
// (the demultiplexer fed in 3760-byte chunks). Each loop polls its run flags
// (`running`, `paused`, `seek_request`) once per chunk, decodes into its PCM
// buffer and hands the PCM to its sink path (the window's workers: pcm_sink).
//
// Threading: an MpegReader (its demultiplexer, decoder and PCM buffer) is used
// by one thread at a time; several may read at once on different threads when
// each has its own run flags and MPEG audio library instance and at most one
// may use the AC-3 library (see MpegDecoder).
#pragma once

#include "engine/containers/demux.h"
#include "engine/core/entry_facts.h"
#include "engine/core/run_state.h"
#include "engine/pipeline/mpeg_decoding.h"
#include "engine/pipeline/pcm_stage.h"

#include <cstdint>
#include <memory>
#include <string>

namespace kestrel {

// The entry a loop reads: its facts and the rate ratio of the output.
struct ReaderEntry : EntryFacts {
    double rateRatio = 1.0;
};

// Called whenever the whole second of the position changes.
using PositionReport = void (*)(int second, void* context);

// Caption of the "cannot open" message box of the reading loops.
enum class ReaderResult { Ended = 0, OpenFailed = -1, NotMpegAudio = -2 };

// Where a reading loop hands its decoded PCM.
class PcmSinkPath {
  public:
    virtual ~PcmSinkPath() = default;
    // Consumes pcm.pending bytes of pcm.data() (the loop clears the count).
    virtual void consume(PcmBuffer& pcm) = 0;
    // True when the loop must end (a write to its output failed).
    virtual bool failed() const { return false; }
    // The decoder's format of the PCM that follows (a path that follows
    // format changes sets its PCM change up again; others ignore it).
    virtual void sourceFormat(int rate, int channels) {
        (void)rate;
        (void)channels;
    }
};

// The window's workers' path: the process-wide PCM stage (pcm_sink) into
// `out` (null while playing).
class StageSink : public PcmSinkPath {
  public:
    StageSink(PcmOutput* out, double ratio, int sourceChannels)
        : out_(out), ratio_(ratio), sourceChannels_(sourceChannels) {}
    void consume(PcmBuffer& pcm) override;
    bool failed() const override;

  private:
    PcmOutput* out_;
    double ratio_;
    int sourceChannels_;
};

// One reading loop with its own demultiplexer, decoder and PCM buffer.
class MpegReader {
  public:
    // `flags`: what the loop polls; `libraryInstance`, `mayUseAc3`: see
    // MpegDecoder. `pcm`: the buffer to decode into (it must outlive the
    // reader); null: one of the reader's own.
    MpegReader(RunFlags flags, int libraryInstance, bool mayUseAc3, PcmBuffer* pcm = nullptr);
    ~MpegReader();
    MpegReader(const MpegReader&) = delete;
    MpegReader& operator=(const MpegReader&) = delete;

    // See readMpegAudioFile and readMpegStream.
    ReaderResult readMpegAudioFile(const ReaderEntry& e, PcmSinkPath& sink, PositionReport report,
                                   void* context);
    ReaderResult readMpegStream(const ReaderEntry& e, PcmSinkPath& sink, PositionReport report,
                                void* context);

    RunFlags flags() const { return flags_; }
    PcmBuffer& pcm() { return pcm_; }
    Demuxer& demuxer() { return demux_; }
    MpegDecoder& decoder() { return decoder_; }

  private:
    RunFlags flags_;
    std::unique_ptr<PcmBuffer> ownPcm_;
    PcmBuffer& pcm_;
    Demuxer demux_;
    MpegDecoder decoder_;
};

// The window's workers' loops: an MpegReader of their own on the process-wide
// run flags, library instance kMainLibraryInstance, into pcm_sink.
//
// MPEG audio file: reads from the first confirmed frame. The libraries the
// stream needs must be loaded (mpadec_ext; ac3stream for AC-3).
ReaderResult readMpegAudioFile(const ReaderEntry& e, PcmOutput* out, PositionReport report,
                               void* context);
// MPEG stream in the demultiplexer mode given by the entry's kind.
ReaderResult readMpegStream(const ReaderEntry& e, PcmOutput* out, PositionReport report,
                            void* context);

// Positions and seeks are proportional over the bytes from `base` on (the
// first audio frame of an MPEG audio file, so that a tag before it does not
// count as playing time; 0 for streams). Neither divides by a duration or a
// size of 0 (a free-format or damaged file may have duration 0).
//
// Byte offset of a seek to `second`: base + a multiple of 188 (of `packet`,
// the transport packet size of a stream in 192- or 204-byte packets).
uint64_t seekOffset(int second, int durationSec, uint64_t fileSize, uint64_t base = 0,
                    uint64_t packet = 188);
// The whole second shown when `consumed` bytes of the file have been read.
int positionSecond(uint64_t consumed, int durationSec, uint64_t fileSize, uint64_t base = 0);

} // namespace kestrel
