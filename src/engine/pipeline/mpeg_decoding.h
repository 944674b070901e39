// Decoding of what the MPEG demultiplexer assembles: MPEG-2/2.5 Layer III
// frames go to the stream decoder mp3dec, the other MPEG audio frames (MPEG-1,
// and Layer I/II of MPEG-2/2.5) in batches to the MPEG audio library, AC-3
// frames to the AC-3 library. The PCM is appended to the decoder's PcmBuffer
// and raises its pending count.
//
// The buffer is never overrun and no PCM is dropped: when a decoder needs
// more room than is left, the installed drain hook hands the waiting PCM on
// (the reader passes it to its sink and clears the pending count) and
// decoding continues. Without a hook the undecoded rest waits for the next
// call.
//
// Threading: an MpegDecoder is used by one thread at a time. Several may
// decode at once on different threads when each has its own MPEG audio
// library instance number (the window's worker uses kMainLibraryInstance);
// the stream decoder mp3dec is per object. The AC-3 library holds one decoder
// per process: only the window's worker may use it (`mayUseAc3`); another
// decoder drops AC-3 frames and notes `ac3Refused`.
#pragma once

#include "engine/containers/demux.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>

namespace kestrel {

class PcmBuffer;

// MPEG audio library instance of the window's worker (playback or
// conversion); a second player takes another one.
inline constexpr int kMainLibraryInstance = 0;
inline constexpr int kSecondLibraryInstance = 1;

// Counters of the current source, for diagnostics and tests.
struct MpegDecodingStats {
    uint64_t streamFrames = 0; // frames mp3dec produced PCM for
    uint64_t syncLosses = 0;   // "sync lost" reports of mp3dec (its core was reset)
    uint64_t drains = 0;       // times the PCM buffer was handed on to make room
    bool freeFormatRefused = false;
    bool ac3Refused = false; // AC-3 frames arrived at a decoder that may not use the library
};

// The decoding outlet of one reading loop: install it into the loop's
// Demuxer with setOutlet. The libraries must be loaded by the caller.
class MpegDecoder : public DemuxOutlet {
  public:
    MpegDecoder(PcmBuffer& pcm, const std::atomic<bool>& runFlag, int libraryInstance,
                bool mayUseAc3);
    ~MpegDecoder() override;
    MpegDecoder(const MpegDecoder&) = delete;
    MpegDecoder& operator=(const MpegDecoder&) = delete;

    void mpegFrames(const FrameSlot* slots, int count, DecoderRoute route, bool first) override;
    void ac3Frame(const uint8_t* frame, int length) override;

    // Resets the decoders for a new source; `sourcePath` names the source in
    // the decoders' messages.
    void start(const std::string& sourcePath);
    // Closes the decoders and removes the drain hook.
    void stop();
    // Drops decoder state after a seek (see mpegDecodingReset).
    void reset();
    // See mpegDecodingSetDrain.
    void setDrain(std::function<void()> hook);
    int rate() const;
    int channels() const;
    const MpegDecodingStats& stats() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The window's worker's decoder (on mainPcm(), the process-wide `running`,
// kMainLibraryInstance, AC-3 allowed); the calls below work on it and on
// mainDemuxer().
MpegDecoder& mainMpegDecoder();

// Installs the decoding outlet into the demultiplexer and resets the decoders
// for a new source. The libraries must be loaded by the caller. `sourcePath`
// names the source in the decoders' messages.
void mpegDecodingStart(const std::string& sourcePath = {});
// Closes the decoders, removes the outlet and the drain hook.
void mpegDecodingStop();
// Drops decoder state after a seek: the Layer III bit reservoir, the overlap
// and synthesis state and any stream bytes not yet decoded. The next frame
// opens the decoders again, so nothing from before the jump is heard.
void mpegDecodingReset();

// Empties pcm_buffer when a decoder needs room (must leave pcm_pending 0, or
// at least lower it); an empty hook removes it.
void mpegDecodingSetDrain(std::function<void()> hook);

// Facts of the decoded PCM, known after the first frame (0 before).
int mpegDecodedRate();
int mpegDecodedChannels();

const MpegDecodingStats& mpegDecodingStats();

// The outlet itself (for callers that install it themselves).
DemuxOutlet& mpegDecodeOutlet();

} // namespace kestrel
