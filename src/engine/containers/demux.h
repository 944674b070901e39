// MPEG stream demultiplexer: transport, program and PES streams and MPEG
// audio / AC-3 elementary streams are fed in chunks of at most 4096 bytes;
// the audio is assembled into frames and handed to the installed outlet (the
// decoders), or, in fast-copy mode, MPEG audio frames are written unchanged to
// the fast-copy stream. All parsing state lives in a `Demuxer` object and
// survives between calls, so a chunk may end anywhere.
//
// Threading: a Demuxer is used by one thread at a time; any number of them may
// work at once on different threads (each reader owns its own). The free
// functions below work on the process-wide instance `mainDemuxer()`, kept for
// the callers that are one of a kind (fast conversion, tests, fuzzing).
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace kestrel {

inline constexpr int kMaxDemuxChunk = 4096;
// Room for the longest frame the assembler keeps (kMaxMpegFrameBytes).
inline constexpr int kFrameSlotBytes = 2884;
inline constexpr int kFrameBatch = 32;

// `demuxMode` values.
enum DemuxMode : int32_t {
    kDemuxTsRunning = 0, // transport stream with known PIDs
    kDemuxPs = 1,        // program or PES stream (also 5, 6)
    kDemuxTsNoPat = 3,   // transport stream, program table not yet found
    kDemuxTsNoPmt = 4,   // transport stream, program map not yet found
    kDemuxPsAc3 = 5,
    kDemuxPsMpeg = 6,
    kDemuxMpegAudio = 10, // MPEG audio elementary stream
    kDemuxAc3 = 11,       // AC-3 elementary stream
};

// Transport packets come in 188 bytes, in 192 (a 4-byte time code before
// each, as on discs and camcorders) or in 204 (16 check bytes after each).
// The size of packets whose first sync byte is at b[0], from the spacing of
// the sync bytes that follow in the `n` bytes: 188, 192 or 204 when at least
// two (up to four) of them agree, else 0.
int tsPacketSize(const uint8_t* b, size_t n);

// Which decoder a batch of MPEG audio frames is meant for.
enum class DecoderRoute : int32_t {
    MpegAudioLibrary = 0, // MPEG-1 (any layer), MPEG-2/2.5 Layer I and II
    BuiltIn = 1,          // MPEG-2/2.5 Layer III
};
DecoderRoute routeForHeader(const uint8_t* header);

// One frame of a batch: up to 2884 bytes of frame and its length (2888 bytes).
struct FrameSlot {
    uint8_t data[kFrameSlotBytes];
    int32_t length;
};
static_assert(sizeof(FrameSlot) == 2888);

// Receives the assembled audio. Installed by the caller (playback thread,
// conversion driver); without one the audio is dropped.
struct DemuxOutlet {
    virtual ~DemuxOutlet() = default;
    // `count` (1..32) MPEG audio frames in stream order; `first` is true for
    // the batch holding the first frame of the stream (open the decoder then).
    virtual void mpegFrames(const FrameSlot* slots, int count, DecoderRoute route, bool first) = 0;
    // One AC-3 frame (shorter than 2000 bytes).
    virtual void ac3Frame(const uint8_t* frame, int length) = 0;
};
// Counters for diagnostics and tests.
struct DemuxStats {
    uint64_t mpegFrames = 0;    // frames handed on or written
    uint64_t droppedFrames = 0; // frames longer than kMaxMpegFrameBytes
    uint64_t ac3Frames = 0;
    uint64_t streamChanges = 0; // another MPEG audio stream began (joined files)
    int32_t videoPid = -1, audioPid = -1;
    bool audioIsAc3 = false;
    int stuffingMessages = 0;
};
class Demuxer {
  public:
    Demuxer();
    ~Demuxer();
    Demuxer(const Demuxer&) = delete;
    Demuxer& operator=(const Demuxer&) = delete;

    // The outlet receiving the assembled audio (kept over resets); without
    // one the audio is dropped.
    void setOutlet(DemuxOutlet* outlet);
    // The flag polled between frames: when it is clear the assembler drops
    // what it holds and stops (the process-wide `running` by default).
    void setRunFlag(const std::atomic<bool>& runFlag);
    // Fast copy: with a stream set, MPEG audio frames (any version and layer)
    // are written to it unchanged and nothing is decoded; AC-3 is dropped. A
    // failed write is remembered until the next setFastCopy. Null ends it.
    void setFastCopy(FILE* stream);
    bool fastCopyFailed() const;

    // The transport packet size found in the stream (188 until one is found,
    // and for the other forms); seeks round to it.
    int tsPacketSize() const;
    // Current mode (see DemuxMode); set by demuxReset.
    int32_t mode() const;
    const DemuxStats& stats() const;

    // Clears all state (PIDs, buffers, counters, program-stream state) and
    // sets the mode, normally from the entry's `kind` (0 and 3 start the
    // table search of a transport stream).
    void demuxReset(int32_t mode);
    // Drops partial data after a seek in the source (keeps mode, PIDs and the
    // reference header).
    void demuxSeek();
    // Feeds one chunk. 0 on success; -1 when the chunk is longer than 4096
    // bytes or the mode is unknown; -2 when a transport packet in modes 3 and
    // 4 did not start with 0x47 (the demultiplexer resynchronises on its own).
    int demuxChunk(const uint8_t* bytes, int length);
    // End of the source: hands over the last complete frame still held back.
    void demuxFinish();
    // The second entry of the frame assembler, for callers that feed MPEG
    // audio directly with their own decoder route: frames of 24 to 2881
    // bytes; after a frame the search continues 10 bytes further when
    // `shortStep` is set.
    void feedMpegAudio(const uint8_t* bytes, int length, DecoderRoute route, bool shortStep);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The process-wide instance and the calls that work on it.
Demuxer& mainDemuxer();
void setDemuxOutlet(DemuxOutlet* outlet);
const DemuxStats& demuxStats();
void demuxReset(int32_t mode);
void demuxSeek();
int demuxChunk(const uint8_t* bytes, int length);
void demuxFinish();
void feedMpegAudio(const uint8_t* bytes, int length, DecoderRoute route, bool shortStep);

} // namespace kestrel
