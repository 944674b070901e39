// Fuzz target for the Flash containers: the FLV tag walk, index and scan on
// the bytes as a file, the SWF sound parse (plain and, with a zlib stand-in
// that copies, "compressed"), and the Flash and AMV ADPCM decoders.
#include "engine/containers/flash_adpcm.h"
#include "engine/containers/flv.h"
#include "engine/containers/swf.h"

#include "fuzz_scratch.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int copyInflate(unsigned char* dest, unsigned long* destLen, const unsigned char* src,
                unsigned long srcLen) {
    unsigned long n = srcLen < *destLen ? srcLen : *destLen;
    std::memcpy(dest, src, n);
    *destLen = n;
    return n == srcLen ? 0 : -5;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = fuzz::scratchFile();
    std::vector<uint8_t> flv(data, data + size);
    if (size >= 4) std::memcpy(flv.data(), "FLV\1", 4);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(flv.data(), 1, flv.size(), f);
    std::fclose(f);
    f = std::fopen(path.c_str(), "rb");
    std::vector<kestrel::FlvIndexEntry> index;
    kestrel::buildFlvIndex(f, size, index);
    for (const auto& e : index)
        if (e.offset + e.length > size || e.offset < 25) std::abort();
    kestrel::FlvAudioScan scan;
    kestrel::scanFlvAudio(f, size, scan);
    if (scan.firstPayload.size() > 4096) std::abort();
    std::fclose(f);

    for (int variant = 0; variant < 2; ++variant) {
        std::vector<uint8_t> movie(data, data + size);
        if (size >= 3) std::memcpy(movie.data(), variant ? "CWS" : "FWS", 3);
        // Most compressed inputs state a length near their own, so that the
        // parser, not the allocator, takes the time.
        if (variant && size >= 8 && (data[size - 1] & 7) != 0) {
            const uint32_t stated = uint32_t(size) + (data[size - 1] & 0x70u);
            std::memcpy(movie.data() + 4, &stated, 4);
        }
        kestrel::SwfMovie m;
        kestrel::parseSwf(std::move(movie), copyInflate, m);
        for (const auto& s : m.sounds)
            if (s.offset + s.length > m.data.size()) std::abort();
        if (m.sounds.size() > kestrel::kSwfSoundIndexMax) std::abort();
        (void)m.durationSec();
    }

    std::vector<int16_t> out(8192 * 2 + 2);
    for (int ch = 1; ch <= 2; ++ch) {
        kestrel::FlashAdpcmDecoder d;
        d.begin(data, size, ch);
        // A few packets' worth: the decoder does the same for every sample,
        // and decoding all of a large input made each run take 50 ms.
        size_t n;
        for (int calls = 0; calls < 16 && (n = d.decode(out.data(), 999)) > 0; ++calls)
            if (n > 999) std::abort();
        if (d.packets() > 0) d.seekPacket(d.packets() - 1), (void)d.decode(out.data(), out.size());
    }
    if (kestrel::decodeAmvBlock(data, size, out.data(), out.size()) > out.size()) std::abort();
    return 0;
}
