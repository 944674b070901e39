// MPEG audio frame decoder: frame slots in, 16-bit PCM out, on libmpg123 in
// feed mode. Each instance owns one mpg123 handle; PCM that does not fit the
// caller's buffer stays inside the handle and is read first on the next call.
#include "mpadec_ext.h"

#include <mpg123.h>

#include <cstdint>
#include <cstring>
#include <mutex>

namespace {

struct Instance {
    mpg123_handle* handle = nullptr;

    ~Instance() {
        if (handle) mpg123_delete(handle); // unloaded with the instance still open
    }
};

std::mutex g_mutex; // guards library start-up and the opening and closing of instances
bool g_ready = false;
Instance g_instances[MPADEC_MAX_INSTANCES];

int32_t slotLength(const unsigned char* slot) {
    int32_t n;
    std::memcpy(&n, slot + MPADEC_FRAME_BYTES, sizeof n);
    return n;
}

// A header that libmpg123 can decode: sync, a version, a layer, a bit rate that
// is not "bad" and a sampling-rate index that is not reserved.
bool validHeader(const unsigned char* p, int32_t len) {
    if (len < 4) return false;
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return false;
    if (((p[1] >> 3) & 3) == 1) return false; // reserved version
    if (((p[1] >> 1) & 3) == 0) return false; // reserved layer
    if ((p[2] >> 4) == 15) return false;      // bad bit rate
    if (((p[2] >> 2) & 3) == 3) return false; // reserved sampling rate
    return true;
}

bool ensureReady() {
    if (g_ready) return true;
    if (mpg123_init() != MPG123_OK) return false;
    g_ready = true;
    return true;
}

void release(Instance& in) {
    if (in.handle) {
        mpg123_delete(in.handle);
        in.handle = nullptr;
    }
}

// `freeFormat`: the stream's frames state no bit rate.
mpg123_handle* newHandle(bool freeFormat) {
    int err = 0;
    mpg123_handle* h = mpg123_new(nullptr, &err);
    if (!h) return nullptr;
    // The stream arrives as loose frames, possibly after a jump: no gapless
    // trimming, no messages on the standard streams.
    mpg123_param(h, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0.0);
    mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
    // The frames come whole and confirmed: the first one decodes without
    // waiting for the header after it, so a stream of a single frame gives
    // its sound. Free-format frames are measured by that header.
    if (!freeFormat) mpg123_param(h, MPG123_ADD_FLAGS, MPG123_NO_READAHEAD, 0.0);
    // Native rate and channel count, signed 16-bit samples only.
    mpg123_format_none(h);
    const long* rates = nullptr;
    size_t count = 0;
    mpg123_rates(&rates, &count);
    for (size_t i = 0; i < count; ++i)
        mpg123_format(h, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    if (mpg123_open_feed(h) != MPG123_OK) {
        mpg123_delete(h);
        return nullptr;
    }
    return h;
}

} // namespace

extern "C" {

MPADEC_API int mp3_init(void) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return ensureReady() ? 0 : -1;
}

MPADEC_API int mp3_open(int instance, const unsigned char* first_slot) {
    if (instance < 0 || instance >= MPADEC_MAX_INSTANCES || !first_slot) return -1;
    int32_t len = slotLength(first_slot);
    if (len < 4 || len > MPADEC_FRAME_BYTES) return -1;
    std::lock_guard<std::mutex> lock(g_mutex);
    Instance& in = g_instances[instance];
    release(in);
    if (!validHeader(first_slot, len)) return 0;
    if (!ensureReady()) return 0;
    in.handle = newHandle((first_slot[2] >> 4) == 0);
    return in.handle ? 1 : 0;
}

MPADEC_API int mp3_play(int instance, const unsigned char* slots, int count, unsigned char* pcm,
                        int capacity) {
    if (instance < 0 || instance >= MPADEC_MAX_INSTANCES) return -1;
    if (count < 0 || count > MPADEC_MAX_FRAMES_PER_CALL || capacity < 0) return -1;
    if ((count > 0 && !slots) || (capacity > 0 && !pcm)) return -1;
    mpg123_handle* h = g_instances[instance].handle;
    if (!h) return -1;
    for (int i = 0; i < count; ++i) {
        int32_t len = slotLength(slots + static_cast<size_t>(i) * MPADEC_SLOT_BYTES);
        if (len < 0 || len > MPADEC_FRAME_BYTES) return -1;
    }
    for (int i = 0; i < count; ++i) {
        const unsigned char* s = slots + static_cast<size_t>(i) * MPADEC_SLOT_BYTES;
        int32_t len = slotLength(s);
        if (len > 0 && mpg123_feed(h, s, static_cast<size_t>(len)) != MPG123_OK) return -1;
    }
    size_t written = 0;
    // Each turn either writes PCM or ends the loop; the bound only guards
    // against a decoder that keeps announcing format changes.
    for (int turn = 0; turn < 4 * MPADEC_MAX_FRAMES_PER_CALL && written < size_t(capacity);
         ++turn) {
        size_t done = 0;
        int rc = mpg123_read(h, pcm + written, static_cast<size_t>(capacity) - written, &done);
        written += done;
        if (rc == MPG123_NEED_MORE || rc == MPG123_DONE) break;
        if (rc == MPG123_NEW_FORMAT || rc == MPG123_OK) {
            if (done == 0 && rc == MPG123_OK) break;
            continue;
        }
        // A damaged frame: the decoder resynchronises by itself on the next
        // read; stop here with what has been produced.
        if (done == 0) break;
    }
    return static_cast<int>(written);
}

MPADEC_API int mp3_close(int instance) {
    if (instance < 0 || instance >= MPADEC_MAX_INSTANCES) return -1;
    std::lock_guard<std::mutex> lock(g_mutex);
    release(g_instances[instance]);
    return 0;
}

} // extern "C"
