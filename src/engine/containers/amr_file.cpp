#include "engine/containers/amr_file.h"

#include "platform/paths.h"

#include <cstring>
#include <limits>

namespace kestrel {

int amrBodyBytes(int ft) {
    static const int kBody[16] = {12, 13, 15, 17, 19, 20, 26, 31, 5, 0, 0, 0, 0, 0, 0, 0};
    return ft >= 0 && ft < 16 ? kBody[ft] : 0;
}

int amrFileInfo(FILE* f, uint64_t fileSize, AmrFileInfo& info) {
    info = AmrFileInfo();
    char magic[kAmrMagicBytes];
    if (std::fread(magic, 1, sizeof magic, f) != sizeof magic ||
        std::memcmp(magic, kAmrMagic, kAmrMagicBytes) != 0)
        return kAmrNotRingTone;
    int header = std::fgetc(f);
    if (header == EOF) return kAmrNotRingTone;
    info.frameBytes = amrBodyBytesOf(static_cast<uint8_t>(header)) + 1;
    info.frames = fileSize > kAmrMagicBytes
                      ? (fileSize - kAmrMagicBytes) / static_cast<uint64_t>(info.frameBytes)
                      : 0;
    const uint64_t seconds = info.frames * kAmrMsPerFrame / 1000;
    const uint64_t most = static_cast<uint64_t>(std::numeric_limits<int32_t>::max());
    info.durationSec = static_cast<int32_t>(seconds > most ? most : seconds);
    return kAmrInfoOk;
}

int amrFileInfo(const std::string& path, uint64_t fileSize, AmrFileInfo& info) {
    info = AmrFileInfo();
    FILE* f = openSource(path);
    if (!f) return kAmrCannotOpen;
    int rc = amrFileInfo(f, fileSize, info);
    std::fclose(f);
    return rc;
}

} // namespace kestrel
