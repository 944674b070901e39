// AMR narrow-band ring-tone writer on libopencore-amrnb.
#include "orvoamrenc.h"

#include <interf_enc.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

constexpr int kFrameSamples = 160;
constexpr int kFrameBytes = kFrameSamples * 2;

struct Encoder {
    void* state = nullptr;
    std::FILE* file = nullptr;
    Mode mode = MR122;
    unsigned char pending[kFrameBytes];
    int pendingBytes = 0;
    long wholeEnd = 0;  // the file's bytes up to its last whole frame
    int writeError = 0; // errno of the write that failed; the file takes no more
};

Encoder g_enc;
void shutDown();

// Closes an encoder left open when the library is unloaded.
struct Cleanup {
    ~Cleanup() { shutDown(); }
} g_cleanup;

bool modeFromValue(int value, Mode* mode) {
    switch (value) {
    case 475:
        *mode = MR475;
        return true;
    case 515:
        *mode = MR515;
        return true;
    case 59:
        *mode = MR59;
        return true;
    case 67:
        *mode = MR67;
        return true;
    case 74:
        *mode = MR74;
        return true;
    case 795:
        *mode = MR795;
        return true;
    case 102:
        *mode = MR102;
        return true;
    case 122:
        *mode = MR122;
        return true;
    default:
        return false;
    }
}

// Encodes the frame in `pending` and appends it to the file; returns the bytes
// written or -2.
int encodePending() {
    // The encoder works in its input buffer: give it a copy.
    short speech[kFrameSamples];
    std::memcpy(speech, g_enc.pending, sizeof speech);
    unsigned char out[64];
    int n = Encoder_Interface_Encode(g_enc.state, g_enc.mode, speech, out, 0);
    g_enc.pendingBytes = 0;
    if (n <= 0) return 0;
    if (g_enc.writeError) return -2;
    // Unbuffered: a frame reaches the file whole, or it is cut back to the
    // frame before it (a full disk), so the file stays valid to its last byte.
    errno = 0;
    if (std::fwrite(out, 1, static_cast<size_t>(n), g_enc.file) != static_cast<size_t>(n)) {
        g_enc.writeError = errno ? errno : EIO;
        (void)::ftruncate(fileno(g_enc.file), g_enc.wholeEnd);
        errno = g_enc.writeError;
        return -2;
    }
    g_enc.wholeEnd += n;
    return n;
}

void shutDown() {
    if (g_enc.state) Encoder_Interface_exit(g_enc.state);
    g_enc.state = nullptr;
    if (g_enc.file) std::fclose(g_enc.file);
    g_enc.file = nullptr;
    g_enc.pendingBytes = 0;
    g_enc.wholeEnd = 0;
    g_enc.writeError = 0;
}

} // namespace

extern "C" {

ORVOAMRENC_API int amr_init(int mode, const char* path) {
    shutDown();
    Mode m;
    if (!path || !modeFromValue(mode, &m)) return -1;
    std::FILE* f = std::fopen(path, "wb");
    if (!f) return -2;
    std::setvbuf(f, nullptr, _IONBF, 0);
    static const char kMagic[] = "#!AMR\n";
    if (std::fwrite(kMagic, 1, 6, f) != 6) {
        std::fclose(f);
        return -2;
    }
    void* state = Encoder_Interface_init(0);
    if (!state) {
        std::fclose(f);
        return -3;
    }
    g_enc.state = state;
    g_enc.file = f;
    g_enc.mode = m;
    g_enc.pendingBytes = 0;
    g_enc.wholeEnd = 6;
    g_enc.writeError = 0;
    return 0;
}

ORVOAMRENC_API int amr_encode(const unsigned char* pcm, int length) {
    if (!g_enc.state || length < 0 || (length > 0 && !pcm)) return -1;
    int total = 0;
    int pos = 0;
    while (pos < length) {
        int take = kFrameBytes - g_enc.pendingBytes;
        if (take > length - pos) take = length - pos;
        std::memcpy(g_enc.pending + g_enc.pendingBytes, pcm + pos, static_cast<size_t>(take));
        g_enc.pendingBytes += take;
        pos += take;
        if (g_enc.pendingBytes == kFrameBytes) {
            int n = encodePending();
            if (n < 0) return n;
            total += n;
        }
    }
    return total;
}

ORVOAMRENC_API int amr_close(void) {
    if (!g_enc.state) return -1;
    int rc = g_enc.writeError ? -2 : 0;
    if (!g_enc.writeError && g_enc.pendingBytes > 1) {
        std::memset(g_enc.pending + g_enc.pendingBytes, 0,
                    static_cast<size_t>(kFrameBytes - g_enc.pendingBytes));
        if (encodePending() < 0) rc = -2;
    }
    const int err = g_enc.writeError;
    if (std::fclose(g_enc.file) != 0) rc = -2;
    g_enc.file = nullptr;
    shutDown();
    if (err) errno = err;
    return rc;
}

} // extern "C"
