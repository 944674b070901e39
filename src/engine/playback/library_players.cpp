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
#include "engine/playback/texts_players.h"
#include "engine/settings/settings.h"
#include "platform/ports.h"

#include <cstdio>

namespace kestrel {

namespace {

void reportLibraryPlay(int second, void*) {
    char buf[1400];
    std::snprintf(buf, sizeof buf, text::kPlayStatus, current.path.c_str(), second,
                  current.durationSec);
    WindowPort& w = window();
    w.statusText(buf);
    w.progress(second, current.durationSec);
    w.position(second, current.durationSec);
    w.clock(second);
}

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
    const EffectiveOutputFormat& f = outputFormat;
    PlayerLibraries libs;
    if (!libs.load(k)) {
        libs.unload();
        return -1;
    }
    (void)pcm_buffer();
    WindowPort& w = window();
    w.busy(Command::Stop | Command::DisplaySwitch);
    w.progress(0, current.durationSec);
    w.statusText(formatText(text::kPlayStart, current.path));
    w.position(0, current.durationSec);
    int rc = openMainDevice(f.out_rate, f.out_channels, false);
    uint32_t vol = mainWaveOut().getVolume();
    w.volume(static_cast<int>(vol & 0xFFFF), static_cast<int>(vol >> 16));
    displaySetupTransform(f.out_rate);
    wirePcmSink(rateRatio);
    ReaderEntry re;
    static_cast<EntryFacts&>(re) = current;
    re.rateRatio = rateRatio;
    int result = -1;
    bool prepared = false;
    if (rc != 0)
        showMessage(caption::kMain, text::device::kOpenFailed);
    else if (!(prepared = prepare_pcm_change(rateRatio, current.sourceChannels) >= 0))
        showMessage(caption::kMain, formatText(text::kPlayPcmChangeFailed, current.path));
    double ratio = rateRatio;
    if (rc == 0 && prepared) {
        result = 0;
        running = true;
        paused = false;
        seek_request = 0;
        seek_dragging = false;
        StageFormatSink sink(nullptr, rateRatio, current.sourceRate, current.sourceChannels);
        RunFlags flags = processRunFlags();
        PcmBuffer& pcm = mainPcm();
        if (k == PlayerKind::Amr)
            readAmrFile(re, flags, pcm, sink, reportLibraryPlay, nullptr);
        else if (k == PlayerKind::Aac)
            readAacFile(re, flags, pcm, sink, reportLibraryPlay, nullptr);
        else
            readMp4Audio(re, flags, pcm, sink, reportLibraryPlay, nullptr);
        ratio = sink.ratio();
        w.statusText(formatText(text::kPlayEnded, current.path));
    }
    close_pcm_change(nullptr, ratio);
    w.statusText(formatText(text::kPlayStopped, current.path));
    w.switchesOn(kBothSwitches);
    sound_on = true;
    display_on = true;
    effects_window_on = false;
    if (orvosoundmixLoaded()) orvosoundmix.orvomix_setdisp(0);
    w.statusText(text::kPlayIdle);
    running = false;
    paused = false;
    libs.unload();
    closeMainDevice();
    w.idle(Commands::all());
    w.position(0, current.durationSec);
    w.progress(0, current.durationSec);
    return result;
}

} // namespace kestrel
