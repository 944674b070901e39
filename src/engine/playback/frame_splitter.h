// The output manager's MPEG audio frame splitter and frame decoding.
//
// The splitter cuts a byte stream into whole frames. Bytes are gathered until
// 400 are together (1200 until the first frame has been found); a gathering
// of more than 8000 bytes in which no frame ends is dropped and the search
// starts again. The first frame begins at a header (0xFF, then a byte of 0xE0
// or more) that parses and is confirmed by a header of the same stream where
// the frame ends; its header is remembered. A frame then ends where the next
// header begins that repeats the remembered first two bytes and whose fourth
// byte matches the remembered one outside the bits 0x30 (mode extension): the
// header's own frame length is tried first, the bytes after it are searched
// when nothing matches there (free format, damage). A frame goes out when it
// is at least as long as its header's frame length (header and side
// information for free format) and fits a frame record.
//
// The frame decoding takes the frames in stream order: MPEG-1 (and Layer I/II
// of any version) through the frame decoder in slot 11, MPEG-2/2.5 Layer III
// through the stream decoder mp3dec. A Xing/Info frame in front is no sound:
// it is not decoded, and its LAME extension's encoder delay and padding are
// dropped from the PCM.
#pragma once

#include "engine/core/run_state.h"
#include "engine/decode/mp3dec.h"
#include "engine/pipeline/pcm_trim.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace kestrel {

inline constexpr int kManagerFrameSlot = 11;

class MpegFrameSplitter {
  public:
    using FrameFn = std::function<void(const uint8_t* frame, int length)>;
    // Appends `n` bytes and hands every frame that is complete to `frame`.
    void feed(const uint8_t* p, size_t n, const FrameFn& frame);
    // The data has ended: a last frame that is whole by its header goes out.
    void finish(const FrameFn& frame);

  private:
    void split(const FrameFn& frame, bool atEnd);
    bool findFirst();
    bool matches(size_t at) const;
    void emit(size_t length, const FrameFn& frame);
    std::vector<uint8_t> buf_;
    bool synced_ = false;
    uint8_t head_[4] = {};
};

// Decodes split frames into 16-bit PCM and hands it to `out` in runs.
class ManagerFrameDecoder {
  public:
    using PcmFn = std::function<void(PcmBuffer& pcm, int rate, int channels)>;
    explicit ManagerFrameDecoder(PcmFn out) : out_(std::move(out)) {}
    ~ManagerFrameDecoder();
    ManagerFrameDecoder(const ManagerFrameDecoder&) = delete;
    ManagerFrameDecoder& operator=(const ManagerFrameDecoder&) = delete;

    void frame(const uint8_t* bytes, int length);
    // Decodes what the stream decoder still holds and hands on the rest.
    void finish();
    // Hands the PCM gathered so far to `out`.
    void flush();
    // Frames given to the frame decoder and to the stream decoder.
    uint64_t frameDecoderFrames() const { return frameFrames_; }
    uint64_t streamDecoderFrames() const { return streamFrames_; }

  private:
    void pumpStream();
    PcmFn out_;
    PcmBuffer pcm_;
    PcmTrim trim_;
    bool started_ = false;
    bool useFrameDecoder_ = false;
    bool slotOpen_ = false;
    mp3dec_t stream_ = nullptr;
    int rate_ = 0, channels_ = 0;
    std::vector<uint8_t> record_;
    uint64_t frameFrames_ = 0, streamFrames_ = 0;
};

} // namespace kestrel
