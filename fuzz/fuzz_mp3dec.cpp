// Fuzz target of the MPEG audio decoders: the input is fed to mp3dec in
// pieces of random size with random open options and output spaces, and cut
// into frame records for the frame decoder. Output buffers are allocated at
// exactly the offered size, so a write past them is caught by the sanitizer.
#include "engine/decode/frame_decoder.h"
#include "engine/decode/mp3dec.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

struct Rng {
    uint32_t s;
    uint32_t next() {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        return s;
    }
};

constexpr int kMaxFrames = 48;
// The stream decoder looks for its sync one byte at a time: over junk, its
// first 16 KiB show all that more would.
constexpr size_t kMaxStreamBytes = 16384;

void runStreamDecoder(const uint8_t* data, size_t size, Rng& rng) {
    using namespace kestrel;
    mp3dec_t h = nullptr;
    int down = int(rng.next() % 3);
    int eightBit = int(rng.next() % 4 == 0);
    int mono = int(rng.next() % 3 == 0);
    if (mp3dec_open(&h, down, eightBit, mono, 1) != SSC_OK) return;
    size_t pos = 0;
    bool ended = false;
    // A few dozen frames reach every state the stream carries (bit
    // reservoir, format changes); more only take time.
    int frames = 0;
    for (int guard = 0; guard < 100000 && frames < kMaxFrames; ++guard) {
        // Usually enough space for a frame, sometimes less.
        uint32_t space = (rng.next() % 8 == 0) ? rng.next() % 4608 : 4608;
        std::unique_ptr<uint8_t[]> out(new uint8_t[space ? space : 1]);
        uint32_t produced = 0;
        Mp3Ssc s = mp3dec_decode(h, out.get(), space, &produced);
        if (produced > space) __builtin_trap();
        if (produced) {
            ++frames;
            continue;
        }
        if (s == SSC_W_MPGA_SYNCEOF) break;
        if (s == SSC_E_MPGA_BUFFERTOOSMALL) continue;
        if (pos < size) {
            uint32_t piece = 1 + rng.next() % 3000;
            if (piece > size - pos) piece = uint32_t(size - pos);
            uint32_t used = 0;
            mp3dec_feed(h, data + pos, piece, &used);
            pos += used;
        } else if (!ended) {
            mp3dec_end_of_input(h);
            ended = true;
        } else if (s != SSC_W_MPGA_SYNCLOST) {
            break;
        }
    }
    Mp3FrameInfo fi;
    mp3dec_frame_info(h, &fi);
    mp3dec_close(h);
}

void runFrameDecoder(const uint8_t* data, size_t size, Rng& rng) {
    using namespace kestrel;
    std::vector<uint8_t> records;
    int count = 0;
    size_t pos = 0;
    while (pos < size && count < kMaxFrames) {
        size_t len = 4 + rng.next() % 1700;
        if (len > size - pos) len = size - pos;
        records.resize(size_t(count + 1) * kFrameRecordBytes);
        makeFrameRecord(&records[size_t(count) * kFrameRecordBytes], data + pos, int(len));
        if (rng.next() % 16 == 0) {
            // A record with a length field that lies.
            uint32_t lie = rng.next();
            std::memcpy(&records[size_t(count) * kFrameRecordBytes + kFrameRecordData], &lie, 4);
        }
        pos += len;
        ++count;
    }
    if (!count) return;
    int slot = int(rng.next() % kFrameDecoderSlots);
    if (mp3_open(slot, records.data()) != 1) return;
    for (int i = 0; i < count;) {
        int n = 1 + int(rng.next() % 8);
        if (n > count - i) n = count - i;
        int space = int(rng.next() % (8 * 4608));
        std::unique_ptr<uint8_t[]> out(new uint8_t[space ? size_t(space) : 1]);
        int got = mp3_play(slot, &records[size_t(i) * kFrameRecordBytes], n, out.get(), space);
        if (got > space) __builtin_trap();
        i += n;
    }
    mp3_close(slot);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    Rng rng{uint32_t(data[0]) << 24 | uint32_t(data[1]) << 16 | uint32_t(data[2]) << 8 | data[3]};
    if (rng.s == 0) rng.s = 0x9E3779B9u;
    runStreamDecoder(data + 4, size - 4 < kMaxStreamBytes ? size - 4 : kMaxStreamBytes, rng);
    runFrameDecoder(data + 4, size - 4, rng);
    return 0;
}
