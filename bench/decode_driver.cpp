// Decodes an MPEG audio file with mp3dec and writes the PCM to standard output
// (the counterpart of `mpg123 -q -s` for bench/decode.sh).
#include "engine/decode/mp3dec.h"

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
    using namespace kestrel;
    if (argc < 2) {
        std::fprintf(stderr, "usage: decode_driver FILE\n");
        return 2;
    }
    std::FILE* f = std::fopen(argv[1], "rb");
    if (!f) return 1;
    mp3dec_t h;
    if (mp3dec_open(&h, 0, 0, 0, 1) != SSC_OK) return 1;
    std::vector<uint8_t> in(4096), out(4608);
    size_t have = 0, at = 0;
    bool ended = false;
    for (;;) {
        uint32_t produced = 0;
        Mp3Ssc s = mp3dec_decode(h, out.data(), uint32_t(out.size()), &produced);
        if (produced) {
            std::fwrite(out.data(), 1, produced, stdout);
            continue;
        }
        if (s == SSC_W_MPGA_SYNCEOF) break;
        if (at == have && !ended) {
            have = std::fread(in.data(), 1, in.size(), f);
            at = 0;
            if (have == 0) {
                mp3dec_end_of_input(h);
                ended = true;
                continue;
            }
        }
        if (at < have) {
            uint32_t used = 0;
            mp3dec_feed(h, in.data() + at, uint32_t(have - at), &used);
            at += used;
        } else if (s != SSC_W_MPGA_SYNCLOST) {
            break;
        }
    }
    mp3dec_close(h);
    std::fclose(f);
    return 0;
}
