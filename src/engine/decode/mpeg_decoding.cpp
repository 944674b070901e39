#include "engine/decode/mpeg_decoding.h"

#include "engine/decode/frame_decoder.h"
#include "engine/decode/lib_ac3stream.h"
#include "engine/decode/lib_mpadec_ext.h"
#include "engine/playback/run_state.h"

namespace kestrel {

// A batch of the demultiplexer is handed to either decoder as it is.
static_assert(sizeof(FrameSlot) == kFrameRecordBytes && sizeof(FrameSlot) == MPADEC_SLOT_BYTES);
static_assert(kFrameSlotBytes == kFrameRecordData && kFrameSlotBytes == MPADEC_FRAME_BYTES);

namespace {

constexpr int kBuiltInSlot = 0; // frame decoder slot of the active worker
constexpr int kLibraryInstance = 0;

class DecodeOutlet : public DemuxOutlet {
  public:
    bool libraryOpen = false;
    bool builtInOpen = false;
    bool ac3Open = false;
    int rate = 0, channels = 0;

    void mpegFrames(const FrameSlot* slots, int count, DecoderRoute route, bool first) override {
        if (count <= 0) return;
        const uint8_t* records = reinterpret_cast<const uint8_t*>(slots);
        uint8_t* out = pcm_buffer() + pcm_pending;
        int space = kPcmBufferBytes - pcm_pending;
        if (space <= 0) return;
        if (route == DecoderRoute::BuiltIn) {
            if (first || !builtInOpen) {
                builtInOpen = kestrel::mp3_open(kBuiltInSlot, records) > 0;
                FrameSlotInfo info{};
                if (builtInOpen && mp3_slot_info(kBuiltInSlot, &info)) {
                    rate = info.sampleRate;
                    channels = info.channels;
                }
            }
            if (!builtInOpen) return;
            int n = kestrel::mp3_play(kBuiltInSlot, records, count, out, space);
            if (n > 0) pcm_pending += n;
        } else {
            if (!mpadec_ext_loaded()) return;
            if (first || !libraryOpen) {
                libraryOpen = mpadec_ext.mp3_open(kLibraryInstance, records) > 0;
                noteHeader(slots[0].data);
            }
            if (!libraryOpen) return;
            int n = mpadec_ext.mp3_play(kLibraryInstance, records, count, out, space);
            if (n > 0) pcm_pending += n;
        }
    }

    void ac3Frame(const uint8_t* frame, int length) override {
        if (!ac3stream.ac3buf_readdata) return;
        if (!ac3Open) {
            ac3Open = ac3stream.ac3buf_init() >= 0;
            channels = 2;
        }
        if (!ac3Open) return;
        int space = kPcmBufferBytes - pcm_pending;
        if (space <= 0) return;
        int written = 0;
        int n =
            ac3stream.ac3buf_readdata(frame, length, pcm_buffer() + pcm_pending, space, &written);
        if (n > 0) pcm_pending += n;
    }

    void noteHeader(const uint8_t* h) {
        static const int rates[3][3] = {
            {44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
        int v = (h[1] >> 3) & 3; // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
        int vi = v == 3 ? 0 : v == 2 ? 1 : 2;
        int ri = (h[2] >> 2) & 3;
        if (ri < 3) rate = rates[vi][ri];
        channels = ((h[3] >> 6) & 3) == 3 ? 1 : 2;
    }

    void closeAll() {
        if (libraryOpen && mpadec_ext_loaded()) mpadec_ext.mp3_close(kLibraryInstance);
        if (builtInOpen) kestrel::mp3_close(kBuiltInSlot);
        if (ac3Open && ac3stream.ac3buf_close) ac3stream.ac3buf_close();
        libraryOpen = builtInOpen = ac3Open = false;
    }
};

DecodeOutlet g_outlet;

} // namespace

DemuxOutlet& mpegDecodeOutlet() {
    return g_outlet;
}

void mpeg_decoding_start() {
    g_outlet.closeAll();
    g_outlet.rate = g_outlet.channels = 0;
    if (mpadec_ext_loaded()) mpadec_ext.mp3_init();
    setDemuxOutlet(&g_outlet);
}

void mpeg_decoding_stop() {
    g_outlet.closeAll();
    setDemuxOutlet(nullptr);
}

void mpeg_decoding_reset() {
    // The MPEG decoders keep their stream facts; only AC-3 restarts cleanly
    // from the next frame (its state carries no position).
}

int mpeg_decoded_rate() {
    return g_outlet.rate;
}
int mpeg_decoded_channels() {
    return g_outlet.channels;
}

} // namespace kestrel
