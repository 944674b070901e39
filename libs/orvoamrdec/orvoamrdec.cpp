// AMR narrow-band decoding of storage-format frames on libopencore-amrnb.
#include "orvoamrdec.h"

#include <interf_dec.h>

#include <cstring>

namespace {

// Body bytes after the header byte, by frame type (AMR-NB storage format).
constexpr int kBodyBytes[16] = {12, 13, 15, 17, 19, 20, 26, 31, 5, 0, 0, 0, 0, 0, 0, 0};

void* g_decoder = nullptr;

// Frees a decoder left open when the library is unloaded.
struct Cleanup {
    ~Cleanup() {
        if (g_decoder) Decoder_Interface_exit(g_decoder);
    }
} g_cleanup;

} // namespace

extern "C" {

ORVOAMRDEC_API int amrdecode_init(void) {
    if (g_decoder) Decoder_Interface_exit(g_decoder);
    g_decoder = Decoder_Interface_init();
    return g_decoder ? 0 : -1;
}

ORVOAMRDEC_API int amr_decode(const unsigned char* data, int length, unsigned char* pcm,
                              int capacity) {
    if (!g_decoder || length < 0 || capacity < 0) return -1;
    if ((length > 0 && !data) || (capacity > 0 && !pcm)) return -1;
    int pos = 0, written = 0;
    while (pos < length && capacity - written >= AMRDEC_PCM_PER_FRAME) {
        int frameBytes = 1 + kBodyBytes[(data[pos] >> 3) & 15];
        if (frameBytes > length - pos) break; // cut short: not decoded
        // The decoder reads as many bytes as the frame type says; hand it a
        // zero-padded copy so it never reads past the caller's data.
        unsigned char frame[64] = {0};
        std::memcpy(frame, data + pos, static_cast<size_t>(frameBytes));
        short samples[AMRDEC_PCM_PER_FRAME / 2];
        Decoder_Interface_Decode(g_decoder, frame, samples, 0);
        std::memcpy(pcm + written, samples, sizeof samples);
        written += AMRDEC_PCM_PER_FRAME;
        pos += frameBytes;
    }
    return written;
}

ORVOAMRDEC_API int amrdecode_close(void) {
    if (g_decoder) Decoder_Interface_exit(g_decoder);
    g_decoder = nullptr;
    return 0;
}

} // extern "C"
