// One libavcodec audio decoder giving the PCM the program consumes: signed
// 16-bit, interleaved, one or two channels (internal to the codec libraries).
//
// The output rate and channel count are fixed once: at open where the caller
// or the decoder states them, else by the first frame. Frames of any sample
// format, layout or rate are converted to them (libswresample; more than two
// channels are mixed down with its default matrix unless the decoder mixes
// down itself), so a stream that changes its layout midway still gives the
// PCM the caller was promised. PCM that does not fit the caller's buffer is
// kept and comes first on the next call: none is lost.
//
// Every call returns >= 0 on success (bytes of PCM written) or a negative
// AVERROR code. One object per stream; no state is shared between objects.
#pragma once

#include "common/av_codec.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

struct SwrContext;

namespace orvo {

struct AvDecoderParams {
    // Container parameters copied to the decoder first (may be null).
    const AVCodecParameters* codecpar = nullptr;
    // Decoder configuration (AudioSpecificConfig, WAVE extra bytes ...).
    const uint8_t* extradata = nullptr;
    int extradataSize = 0;
    // Stream facts for decoders that cannot find them in the stream (0: unset).
    int sampleRate = 0;
    int channels = 0;
    int blockAlign = 0;
    int bitsPerCodedSample = 0;
    // Ask a decoder with a stereo downmix of its own (AC-3: with the mix
    // levels the stream carries) to use it.
    bool decoderDownmix = false;
    // Output: rate and channels (0: as the decoder states after opening, else
    // the fallbacks, else as the first frame decodes). At most 2 channels.
    int outRate = 0;
    int outChannels = 0;
    int fallbackRate = 0;
    int fallbackChannels = 0;
};

class AvDecoder {
  public:
    AvDecoder() = default;
    AvDecoder(const AvDecoder&) = delete;
    AvDecoder& operator=(const AvDecoder&) = delete;
    ~AvDecoder() { close(); }

    // True when libavcodec has a decoder for `id`.
    static bool available(AVCodecID id);

    // Opens the decoder (an open one is closed first). 0, or
    // AVERROR_DECODER_NOT_FOUND, AVERROR(ENOMEM), or the decoder's refusal.
    int open(AVCodecID id, const AvDecoderParams& params = {});
    void close();
    bool isOpen() const { return codec_.ctx != nullptr; }

    // Output rate and channel count; 0 until fixed (see above).
    int rate() const { return outRate_; }
    int channels() const { return outChannels_; }

    // Decodes one packet (or a buffer of several, which the decoder takes one
    // frame at a time) into `pcm`: first the PCM kept from earlier calls, then
    // every frame the packet gives. Returns the bytes written, or
    // AVERROR_INVALIDDATA when the packet is damaged and nothing was written
    // (the packet is dropped; the next one decodes normally).
    int decode(const uint8_t* data, int size, uint8_t* pcm, int capacity);

    // The same two steps apart, for callers that take one frame at a time:
    // send() hands over a packet (null: the end of the stream), receive()
    // converts the next frame. receive() returns the bytes written,
    // AVERROR(EAGAIN) when the decoder wants the next packet, AVERROR_EOF at
    // the end of the stream, another negative code for a damaged frame (it is
    // dropped).
    int send(const uint8_t* data, int size);
    int send(const AVPacket* packet);
    int receive(uint8_t* pcm, int capacity);

    // Writes PCM kept from earlier calls, as much as fits.
    int drain(uint8_t* pcm, int capacity);

    // End of the stream: every frame still in the decoder and the kept PCM,
    // as much as fits; call again until it returns 0.
    int flush(uint8_t* pcm, int capacity);

    // After a seek: drops the kept PCM and every trace of the stream before
    // (the decoder is opened afresh: a flush leaves some decoders' overlap
    // and dither state behind). The output rate and channels stay. 0, or a
    // negative code (the decoder is then closed).
    int reset();

  private:
    int openContext(const AVCodec* codec);
    bool fixTarget(const AVFrame* frame);
    int convert(const AVFrame* frame, uint8_t* out, int capacity, bool endOfStream = false);
    bool converterMatches(const AVFrame* frame) const;
    int openConverter(const AVFrame* frame);
    void closeConverter();

    AvCodecSet codec_;
    AVCodecParameters* openedWith_ = nullptr; // what reset() opens again
    bool decoderDownmix_ = false;
    SwrContext* swr_ = nullptr;
    AVChannelLayout inLayout_{};
    int inRate_ = 0;
    int inFormat_ = -1;
    int outRate_ = 0;
    int outChannels_ = 0;
    bool draining_ = false; // the end of the stream has been sent
    bool ended_ = false;    // ... and every frame has come out
};

} // namespace orvo
