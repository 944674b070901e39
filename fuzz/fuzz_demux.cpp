// Fuzz target for the MPEG stream demultiplexer: the first byte picks the
// mode and the chunk size, the rest is fed in chunks, then the stream ends.
#include "engine/containers/demux.h"
#include "engine/core/run_state.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

struct CheckingOutlet : kestrel::DemuxOutlet {
    void mpegFrames(const kestrel::FrameSlot* slots, int count, kestrel::DecoderRoute,
                    bool) override {
        if (count < 1 || count > kestrel::kFrameBatch) std::abort();
        for (int i = 0; i < count; ++i) {
            if (slots[i].length < 1 || slots[i].length >= kestrel::kFrameSlotBytes) std::abort();
            sum += slots[i].data[0] + slots[i].data[slots[i].length - 1];
        }
    }
    void ac3Frame(const uint8_t* frame, int length) override {
        if (length < 7 || length >= 2000 || frame[0] != 0x0B) std::abort();
        sum += frame[length - 1];
    }
    unsigned sum = 0;
};

} // namespace

constexpr size_t kSmallChunkBytes = 8192;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    static const int modes[8] = {3, 0, 1, 5, 6, 10, 11, 4};
    static const int chunks[8] = {4096, 3760, 188, 1, 7, 1000, 2048, 13};
    static CheckingOutlet outlet;
    kestrel::running = true;
    kestrel::setDemuxOutlet(&outlet);
    kestrel::demuxReset(modes[data[0] & 7]);
    int chunk = chunks[(data[0] >> 3) & 7];
    bool seekMidway = data[0] & 0x40;
    const uint8_t* p = data + 1;
    // Tiny chunks cost a call each: they take the first 8 KiB, which holds
    // packets cut at every place; larger chunks take the whole input.
    size_t n = chunk < 188 && size - 1 > kSmallChunkBytes ? kSmallChunkBytes : size - 1;
    size_t done = 0;
    while (done < n) {
        size_t take = n - done < size_t(chunk) ? n - done : size_t(chunk);
        kestrel::demuxChunk(p + done, int(take));
        done += take;
        if (seekMidway && done >= n / 2 && done - take < n / 2) kestrel::demuxSeek();
    }
    if (data[0] & 0x80) kestrel::feedMpegAudio(p, int(n), kestrel::DecoderRoute::BuiltIn, true);
    kestrel::demuxFinish();
    kestrel::setDemuxOutlet(nullptr);
    return 0;
}
