// mp3dec: the push-mode MPEG audio Layer III stream decoder (MPEG-1, MPEG-2
// and MPEG-2.5).
//
// The caller feeds arbitrary runs of stream bytes and asks for one frame of
// PCM per decode call; the decoder finds and keeps frame synchronisation
// itself, keeps the bit reservoir across frames and reports every outcome as
// an Mp3Ssc status code. Output: signed 16-bit little-endian PCM, channels
// interleaved (or unsigned 8-bit when asked for), at the stream's rate divided
// by 2^down-sampling.
//
// Typical use:
//   mp3dec_t h; mp3dec_open(&h, 0, 0, 0, 1);
//   for each run of bytes: mp3dec_feed(h, p, n, &used); then
//       mp3dec_decode(h, out, space, &produced) until it returns a warning
//       (sync need data / sync searched), feeding the unfed rest again;
//   mp3dec_end_of_input(h) once the input has ended, then decode the rest;
//   mp3dec_close(h).
#pragma once

#include <cstdint>
#include <string>

namespace kestrel {

using Mp3Ssc = uint32_t;

inline constexpr Mp3Ssc SSC_OK = 0x00000000u;
inline constexpr Mp3Ssc SSC_E_INVALIDPARAM = 0xC0000001u;
inline constexpr Mp3Ssc SSC_E_OUTOFMEMORY = 0xC0000002u;
inline constexpr Mp3Ssc SSC_E_INVALIDHANDLE = 0xC0000003u;
inline constexpr Mp3Ssc SSC_E_IO_GENERIC = 0x80010001u;
inline constexpr Mp3Ssc SSC_E_IO_OPENFAILED = 0x80010002u;
inline constexpr Mp3Ssc SSC_E_IO_CLOSEFAILED = 0x80010003u;
inline constexpr Mp3Ssc SSC_E_IO_READFAILED = 0x80010004u;
inline constexpr Mp3Ssc SSC_I_MPGA_CRCERROR = 0x41010001u;
inline constexpr Mp3Ssc SSC_I_MPGA_NOMAINDATA = 0x41010002u;
inline constexpr Mp3Ssc SSC_E_MPGA_GENERIC = 0xC1010001u;
inline constexpr Mp3Ssc SSC_E_MPGA_WRONGLAYER = 0xC1010002u;
inline constexpr Mp3Ssc SSC_E_MPGA_BUFFERTOOSMALL = 0xC1010003u;
inline constexpr Mp3Ssc SSC_W_MPGA_SYNCSEARCHED = 0x81010001u;
inline constexpr Mp3Ssc SSC_W_MPGA_SYNCLOST = 0x81010002u;
inline constexpr Mp3Ssc SSC_W_MPGA_SYNCNEEDDATA = 0x81010003u;
inline constexpr Mp3Ssc SSC_W_MPGA_SYNCEOF = 0x81010004u;

// Class of a code from its two top bits.
inline bool sscIsSuccess(Mp3Ssc c) {
    return (c >> 30) == 0;
}
inline bool sscIsInfo(Mp3Ssc c) {
    return (c >> 30) == 1;
}
inline bool sscIsWarning(Mp3Ssc c) {
    return (c >> 30) == 2;
}
inline bool sscIsError(Mp3Ssc c) {
    return (c >> 30) == 3;
}

// The text of a status code ("(Mp3Ssc) unknown SSC (0x...)" outside the table).
std::string mp3sscText(Mp3Ssc code);

struct Mp3DecHandle;
using mp3dec_t = Mp3DecHandle*;

// Frame info of the last frame that produced PCM (13 fields).
struct Mp3FrameInfo {
    int32_t layer;          // 3
    int32_t version;        // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
    int32_t bitrate;        // bits per second
    int32_t bitrateIndex;   // of the header
    int32_t channels;       // of the stream: 1 single channel, else 2
    int32_t sampleRate;     // of the stream, Hz
    int32_t outChannels;    // 1 with mono output, else channels
    int32_t outRate;        // sampleRate >> down-sampling
    int32_t bitsPerSample;  // 8 or 16
    int32_t frameBits;      // frame length in bits
    int32_t durationMs;     // samples per frame * 1000 / rate
    int32_t crcMismatch;    // 1 when the frame's CRC did not match
    int32_t lackedMainData; // 1 when the frame lacked main data
};

// downSampling: 0 full rate, 1 half rate, 2 quarter rate; eightBit: unsigned
// 8-bit output; mono: one output channel (the mix); postFilter: no effect.
Mp3Ssc mp3dec_open(mp3dec_t* result, int32_t downSampling, int32_t eightBit, int32_t mono,
                   int32_t postFilter);
// Copies as many bytes as the 8192-byte input ring can take; *accepted gets
// the count.
Mp3Ssc mp3dec_feed(mp3dec_t h, const uint8_t* bytes, uint32_t length, uint32_t* accepted);
// Decodes at most one frame into out (space bytes); *produced gets the PCM
// byte count.
Mp3Ssc mp3dec_decode(mp3dec_t h, uint8_t* out, uint32_t space, uint32_t* produced);
// Marks the end of the input: once nothing decodable is left, decode returns
// "sync eof" and stays there.
Mp3Ssc mp3dec_end_of_input(mp3dec_t h);
Mp3Ssc mp3dec_close(mp3dec_t h);
// Copies the frame info of the last decoded frame; SSC_E_INVALIDHANDLE or
// SSC_E_INVALIDPARAM on bad arguments.
Mp3Ssc mp3dec_frame_info(mp3dec_t h, Mp3FrameInfo* info);

// True when the 4 header bytes start a frame mp3dec can decode (Layer III of
// any version, no free format). Frames it rejects (Layers I and II, MPEG-2 and
// 2.5 included) belong to the frame decoder.
bool mp3decAccepts(const uint8_t* header);

} // namespace kestrel
