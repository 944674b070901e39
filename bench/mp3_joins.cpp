// Encodes 16-bit stereo PCM at 44100 Hz with mp3enc.so on N threads and tells
// how the segments were joined: how many joins, and how many found no frame
// to join at in the planned overlap (widened).
//
// Usage: mp3_joins LIBRARY PCM THREADS cbr KBPS | vbr QUALITY
// (PCM: raw samples, or a WAV file of 44-byte header)
#include "mp3enc/mp3enc.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <vector>

template <typename Fn> Fn bind(void* lib, const char* name) {
    Fn f = reinterpret_cast<Fn>(dlsym(lib, name));
    if (!f) {
        std::fprintf(stderr, "%s is missing\n", name);
        std::exit(2);
    }
    return f;
}

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s LIBRARY PCM THREADS cbr KBPS | vbr QUALITY\n", argv[0]);
        return 2;
    }
    void* lib = dlopen(argv[1], RTLD_NOW);
    FILE* in = std::fopen(argv[2], "rb");
    if (!lib || !in) {
        std::fprintf(stderr, "cannot open %s\n", lib ? argv[2] : argv[1]);
        return 2;
    }
    char riff[4] = {};
    if (std::fread(riff, 1, 4, in) == 4 && std::memcmp(riff, "RIFF", 4) == 0)
        std::fseek(in, 44, SEEK_SET);
    else
        std::rewind(in);
    auto cbr = bind<decltype(&wave_enmp3init_new)>(lib, "wave_enmp3init_new");
    auto vbr = bind<decltype(&wave_enmp3init_vbr)>(lib, "wave_enmp3init_vbr");
    auto threads = bind<decltype(&wave_enmp3_threads)>(lib, "wave_enmp3_threads");
    auto code = bind<decltype(&wave_enmp3code)>(lib, "wave_enmp3code");
    auto end = bind<decltype(&wave_enmp3end)>(lib, "wave_enmp3end");
    auto joins = bind<decltype(&wave_enmp3_joins)>(lib, "wave_enmp3_joins");
    int spc = 0, obs = 0;
    const int value = std::atoi(argv[5]);
    const int rc = std::strcmp(argv[4], "vbr") == 0
                       ? vbr(&spc, &obs, 44100, 128, 2, 0, value, 32, 320)
                       : cbr(&spc, &obs, 44100, value, 2, 0);
    if (rc < 0 || threads(std::atoi(argv[3])) < 0) return 1;
    std::vector<short> pcm(static_cast<size_t>(spc));
    std::vector<unsigned char> out(static_cast<size_t>(obs));
    size_t n;
    while ((n = std::fread(pcm.data(), 2, pcm.size(), in)) > 0)
        if (code(pcm.data(), static_cast<int>(n), out.data()) < 0) return 1;
    while (code(pcm.data(), 0, out.data()) > 0) {
    }
    while (end(out.data()) > 0) {
    }
    int j = 0, w = 0;
    joins(&j, &w);
    std::printf("%d joins, %d widened\n", j, w);
    return 0;
}
