// The reading loop of MPEG-4 AVI sources, shared by the AVI playback thread
// and the conversion driver: the AVI reader's audio index, one audio chunk per
// pass, decoded by the stream's format tag (1 raw PCM, 0x50-0x55 MPEG audio
// through the MPEG audio decoders, any other tag through the ADPCM library).
// Positions are the chunk index over the chunk count times the duration; a
// seek goes to the proportional chunk.
//
// Threading: an AviAudioReader is used by one thread at a time; the ADPCM
// library's decoder belongs to the thread that reads.
#pragma once

#include "engine/containers/avi_reader.h"
#include "engine/core/run_state.h"
#include "engine/pipeline/mpeg_readers.h"

#include <memory>
#include <string>

namespace kestrel {

enum class AviReadResult {
    Ended = 0,
    FileFailed = -1,   // the source cannot be opened for reading
    ReaderFailed = -2, // the AVI reader refused it (see aviError)
    ProbeFailed = -3,  // the stream probe does not know it as an MPEG-4 AVI with sound
};

// The chunk a seek to `second` starts from.
size_t aviSeekChunk(int second, int durationSec, size_t chunks);
// The whole second shown while chunk `index` of `chunks` is read.
int aviPositionSecond(size_t index, int durationSec, size_t chunks);

class AviAudioReader {
  public:
    // `flags`: what the loop polls; `pcm`: the buffer to decode into;
    // `libraryInstance`: the MPEG audio library instance (see MpegDecoder).
    AviAudioReader(RunFlags flags, PcmBuffer& pcm, int libraryInstance);
    ~AviAudioReader();
    AviAudioReader(const AviAudioReader&) = delete;
    AviAudioReader& operator=(const AviAudioReader&) = delete;

    // Opens the source and builds its indexes. The libraries the stream
    // needs must be loaded (mpadec_ext, orvoadpcmdec).
    AviReadResult open(const std::string& path);
    int aviError() const { return avi_.error(); }
    const AviFile& info() const { return avi_.info(); }

    // Reads the audio from the start until the index ends, `running` clears
    // or the sink fails.
    void read(const ReaderEntry& e, PcmSinkPath& sink, PositionReport report, void* context);

  private:
    RunFlags flags_;
    PcmBuffer& pcm_;
    int libraryInstance_;
    AviReader avi_;
    std::string path_;
};

// The window's workers' loop on the process-wide run flags and library
// instance kMainLibraryInstance, into pcm_sink with `out` (null while
// playing): has the stream probe check the source, opens it with the
// worker's messages, then reads it.
enum class AviWorker { Conversion, Playback };
AviReadResult readMpeg4Avi(AviWorker worker, const ReaderEntry& e, PcmOutput* out,
                           PositionReport report, void* context, PcmBuffer* pcm = nullptr);

} // namespace kestrel
