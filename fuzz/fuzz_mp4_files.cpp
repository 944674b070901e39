// Fuzz target for the MP4 and AAC file readers of the run-time libraries: the
// input is the file, opened by the MP4 demultiplexer (every track's samples
// read) and by the AAC file decoder in each of its modes.
#include "orvoaacdec/orvoaacdec.h"
#include "orvomp4dec/orvomp4dec.h"

#include "fuzz_scratch.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

// What one input may have read and decoded: enough samples for every path
// of the readers, few enough for many inputs a second.
constexpr int kMaxSamples = 64;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = fuzz::scratchFile();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    std::vector<unsigned char> buf(1 << 16);
    if (mp4de_init(path.c_str()) >= 0) {
        int largest = 0, codec = 0;
        int n = mp4_getaudionum(&largest, &codec);
        for (int i = 0; i < n && i < kMaxSamples; ++i) {
            double ms = 0;
            if (mp4_readaudio(i, buf.data(), static_cast<int>(buf.size()), &ms) >
                static_cast<int>(buf.size()))
                std::abort();
        }
        (void)mp4_getmp4aconfig(buf.data(), 64);
        char name[256] = {0};
        (void)mp4_getaudioname(name);
        int skip = 0;
        long long keep = 0;
        (void)mp4_getaudiotrim(&skip, &keep);
        mp4de_close();
    }
    for (int mode : {AACDEC_MODE_AUTO, AACDEC_MODE_STREAM, AACDEC_MODE_MP4}) {
        int rate = 0, channels = 0;
        if (aacdecode_init(path.c_str(), mode, &rate, &channels) < 0) continue;
        int got = 0;
        for (int i = 0;
             i < kMaxSamples && aac_decode(buf.data(), static_cast<int>(buf.size()), &got) >= 0;
             ++i)
            if (got < 0 || got > static_cast<int>(buf.size())) std::abort();
        double ms = 0;
        int bitRate = 0;
        (void)get_mp4info(&rate, &channels, &bitRate, &ms);
        aacdecode_close();
    }
    return 0;
}
