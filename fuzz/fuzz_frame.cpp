// Fuzz target for MPEG audio frame parsing: the header parser and the frame
// search on the bytes, and the file readers on the bytes written to a file.
#include "engine/containers/mpeg_audio_frame.h"
#include "platform/ports.h"

#include "fuzz_scratch.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

struct SilentMessages : kestrel::MessagePort {
    kestrel::MsgAnswer show(const std::string&, const std::string&, kestrel::MsgButtons,
                            kestrel::MsgAnswer fallback) override {
        return fallback;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static SilentMessages silent;
    static const std::string path = fuzz::scratchFile();
    kestrel::setMessagePort(&silent);

    kestrel::MpegAudioHeader h;
    for (size_t i = 0; i + 4 <= size && i < 64; ++i) {
        if (kestrel::parseMpegAudioHeader(data + i, h) &&
            (h.frameBytes < 0 || h.frameBytes > 2900 || h.channels < 1 || h.channels > 2))
            std::abort();
    }
    int freeBytes = 0;
    if (size >= 4 && kestrel::confirmMpegAudioStart(data, size, freeBytes) == 1 &&
        (freeBytes < 0 || freeBytes > kestrel::kMaxMpegFrameBytes))
        std::abort();
    int at = kestrel::findFrameSync(data, size);
    if (at >= 0 && size_t(at) + 4 > size) std::abort();

    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    kestrel::MpegAudioFileInfo info;
    int64_t first = kestrel::mpegAudioInfo(path, info);
    if (first >= 0 && (info.sampleRate < 8000 || info.sampleRate > 48000)) std::abort();
    int vbr;
    kestrel::mpegAudioStart(path, first, vbr);
    return 0;
}
