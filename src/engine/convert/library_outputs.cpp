#include "engine/convert/library_outputs.h"

#include "engine/convert/encoder_threads.h"
#include "engine/libraries/lib_orvoaacenc.h"
#include "engine/libraries/lib_orvoamrenc.h"
#include "engine/pipeline/pcm_stage.h"
#include "engine/settings/settings.h"
#include "platform/atomic_file.h"

namespace kestrel {

namespace {

bool isAac(int t) {
    return t == kOutRawAac || t == kOutAdts || t == kOutM4a;
}

} // namespace

bool libraryWritesOutput(int t) {
    return isAac(t) || t == kOutAmr;
}

int startLibraryOutput(int t, const std::string& path) {
    if (isAac(t)) {
        if (!orvoaacenc.aac_init) return -1;
        return orvoaacenc.aac_init(outputFormat.out_rate, outputFormat.out_channels,
                                   settings.aac_bit_rate, t, settings.aac_profile, path.c_str(),
                                   kAacEncoderTag);
    }
    if (t == kOutAmr) {
        // The settings file allows a mode of 8, which names no rate: it
        // encodes at the default mode (the stored value stays).
        int m = settings.amr_mode;
        if (m < 0 || m > 7) m = Settings{}.amr_mode;
        if (!orvoamrenc.amr_init) return -1;
        return orvoamrenc.amr_init(kAmrModeValues[m], path.c_str());
    }
    return -1;
}

int openLibraryOutput(PcmOutput& out, AtomicFile& file, int seconds) {
    if (out.stream) std::fclose(out.stream);
    out.stream = nullptr;
    out.encoderFile = true;
    if (startLibraryOutput(out.type, file.tempName()) < 0) {
        file.abandon();
        return -1;
    }
    // A library that cannot spread the output encodes it on one thread.
    const int threads = isAac(out.type) ? encoderThreadsFor(seconds) : 1;
    if (threads > 1 && orvoaacenc.aac_threads) orvoaacenc.aac_threads(threads, seconds);
    return 0;
}

int encodeLibraryOutput(int t, const uint8_t* pcm, int len) {
    if (isAac(t)) return orvoaacenc.aac_encode ? orvoaacenc.aac_encode(pcm, len) : -1;
    if (t == kOutAmr) return orvoamrenc.amr_encode ? orvoamrenc.amr_encode(pcm, len) : -1;
    return -1;
}

int finishLibraryOutput(int t) {
    if (isAac(t)) return orvoaacenc.aac_close ? orvoaacenc.aac_close() : -1;
    if (t == kOutAmr) return orvoamrenc.amr_close ? orvoamrenc.amr_close() : -1;
    return -1;
}

} // namespace kestrel
