// orvopcmchange.so: sample-rate and channel change of 16-bit PCM, on libsoxr.
//
// Linked at build time. One object serves one stream at a time: pcm_init
// starts a stream, pcm_change converts it block by block, pcm_close ends it.
// The change is streaming: the filter state carries over from one call to the
// next, so a stream cut into many blocks gives the same samples as one block,
// without clicks at the block edges. The resampler holds back a few
// milliseconds of sound (its filter delay); they come out with later calls, or
// with a call whose `more` flag is false.
//
// Threading: an object is used by one thread at a time.
#pragma once

#define ORVOPCMCHANGE_API __attribute__((visibility("default")))

class ORVOPCMCHANGE_API Corvopcmchange {
  public:
    Corvopcmchange();
    ~Corvopcmchange();
    Corvopcmchange(const Corvopcmchange&) = delete;
    Corvopcmchange& operator=(const Corvopcmchange&) = delete;

    // Input bytes per pcm_change call that the size returned by pcm_init covers.
    static constexpr int kMaxInputPerCall = 16384;

    // Starts a stream: output rate = input rate x `ratio` (1/16 .. 16),
    // `channels` input channels (1 or 2), `bits` per sample (16); `reserved` is 0.
    // The output channel count starts equal to the input's (see pcm_setch).
    // Returns N > 0: the output of one pcm_change call for up to
    // kMaxInputPerCall input bytes fits in N x 8 bytes. Returns 0 for an
    // argument out of range or when the resampler cannot be created; pcm_change
    // then returns -1 until the next successful pcm_init.
    int pcm_init(double ratio, int reserved, int channels, int bits);

    // Output channel count: 1 mixes two input channels to one ((L + R) / 2,
    // rounded down), 2
    // keeps stereo or doubles a mono input. Other values are ignored. Call it
    // before the first pcm_change of the stream.
    void pcm_setch(int channels);

    // Bits per sample of input and output; only 16 is supported, other values
    // are ignored.
    void pcm_setbit(int bits);

    // Converts `in_bytes` bytes of interleaved PCM into `out` (room for
    // `capacity` bytes). `more` is true while more input of the stream follows;
    // false flushes the resampler's held-back samples. Output that does not fit
    // is kept and comes first with the next call. An odd trailing byte or
    // incomplete frame of the input is kept for the next call.
    // Returns the bytes written (0 when the resampler has produced nothing yet),
    // or -1 when no stream is initialised or an argument is invalid.
    int pcm_change(const unsigned char* in, int in_bytes, unsigned char* out, int capacity,
                   bool more);

    // Extracts channel `channel` (0 left, 1 right) of `in_channels`-channel
    // 16-bit PCM: `bytes` bytes of `in` give bytes / in_channels bytes of mono
    // PCM in `out` (`out` may equal `in`). Needs no stream.
    // Returns the bytes written, or -1 for an invalid argument.
    int pcm_getch(const unsigned char* in, unsigned char* out, int bytes, int in_channels,
                  int channel, int bits);

    // Ends the stream and releases its state (harmless when none is open).
    void pcm_close();

  private:
    struct State;
    State* state_;
};
