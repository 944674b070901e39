// Fuzz target for the MTV and AMV demultiplexer (built into this target from
// its source, so that it runs under the sanitizers): the bytes as an MTV and
// as an AMV file, every audio block read and decoded (AMV blocks by the IMA
// ADPCM block decoder).
#include "engine/containers/flash_adpcm.h"
#include "orvomtvdec/orvomtvdec.h"

#include "fuzz_scratch.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = fuzz::scratchFile();
    static std::vector<uint8_t> block(MTVDEC_MAX_BLOCK);
    static std::vector<int16_t> pcm(2 * MTVDEC_MAX_BLOCK);
    for (int amv = 0; amv < 2; ++amv) {
        std::vector<uint8_t> file(data, data + size);
        // Most inputs get the signature, so that the parsers get past it.
        if (amv && size >= 12 && (data[0] & 1)) std::memcpy(file.data(), "RIFF\0\0\0\0AMV ", 12);
        if (!amv && size >= 46 && (data[0] & 1)) {
            std::memcpy(file.data(), "AMV", 3);
            std::memcpy(file.data() + 43, "MP3", 3);
        }
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f) return 0;
        std::fwrite(file.data(), 1, file.size(), f);
        std::fclose(f);
        if ((amv ? amv_init(path.c_str()) : mtv_init(path.c_str())) < 0) continue;
        int w, h, r, x, blocks = 0, rate, ch;
        double sec;
        if (amv) {
            amv_getvideo(&w, &h, &r, &x, &sec);
            amv_getaudio(&rate, &ch, &blocks);
        } else {
            mtv_getvideo(&w, &h, &r, &x, &sec);
            mtv_getaudio(&rate, &ch, &blocks);
        }
        for (int i = 0; i < blocks && i < 4096; ++i) {
            int n = amv ? amv_getdata(i, block.data(), int(block.size()))
                        : mtv_getdata(i, block.data(), int(block.size()));
            if (n > int(block.size())) std::abort();
            if (n > 0 && amv &&
                kestrel::decodeAmvBlock(block.data(), size_t(n), pcm.data(), pcm.size()) >
                    pcm.size())
                std::abort();
        }
        if (amv)
            amv_close();
        else
            mtv_close();
    }
    return 0;
}
