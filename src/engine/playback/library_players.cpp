#include "engine/playback/library_players.h"

#include "engine/core/captions.h"
#include "engine/core/run_state.h"
#include "engine/core/text_format.h"
#include "engine/libraries/lib_mpadec_ext.h"
#include "engine/libraries/lib_orvoaacdec.h"
#include "engine/libraries/lib_orvoamrdec.h"
#include "engine/libraries/lib_orvosoundmix.h"
#include "engine/pipeline/display_feed.h"
#include "engine/pipeline/library_readers.h"
#include "engine/pipeline/pcm_stage.h"
#include "engine/pipeline/sink_wiring.h"
#include "engine/pipeline/texts_device.h"
#include "engine/pipeline/wave_out_ring.h"
#include "engine/playback/play_session.h"
#include "engine/playback/texts_players.h"
#include "engine/settings/settings.h"
#include "platform/ports.h"

#include <cstdio>

namespace kestrel {

namespace {

// The decoder libraries of a kind, loaded for one playback.
struct PlayerLibraries {
    bool aac = false, amr = false, mpa = false;
    bool load(PlayerKind k) {
        const bool mp4 = k == PlayerKind::Mp4;
        if ((k == PlayerKind::Aac || mp4) && !(aac = loadOrvoaacdec() >= 0)) return false;
        if ((k == PlayerKind::Amr || mp4) && !(amr = loadOrvoamrdec() >= 0)) return false;
        if (mp4 && !(mpa = loadMpadecExt() >= 0)) return false;
        return true;
    }
    void unload() {
        if (mpa) unloadMpadecExt();
        if (amr) unloadOrvoamrdec();
        if (aac) unloadOrvoaacdec();
        aac = amr = mpa = false;
    }
};

} // namespace

bool isLibraryPlayer(PlayerKind kind) {
    return kind == PlayerKind::Aac || kind == PlayerKind::Amr || kind == PlayerKind::Mp4;
}

int libraryPlayerThread(PlayerKind k) {
    if (running.load()) return -1;
    PlayerLibraries libs;
    if (!libs.load(k)) {
        libs.unload();
        return -1;
    }
    const bool ran = runPlayback([k](const ReaderEntry& re) {
        StageFormatSink sink(nullptr, rateRatio, current.sourceRate, current.sourceChannels);
        RunFlags flags = processRunFlags();
        PcmBuffer& pcm = mainPcm();
        if (k == PlayerKind::Amr)
            readAmrFile(re, flags, pcm, sink, reportPlayPosition, nullptr);
        else if (k == PlayerKind::Aac)
            readAacFile(re, flags, pcm, sink, reportPlayPosition, nullptr);
        else
            readMp4Audio(re, flags, pcm, sink, reportPlayPosition, nullptr);
        return sink.ratio();
    });
    libs.unload();
    return ran ? 0 : -1;
}

} // namespace kestrel
