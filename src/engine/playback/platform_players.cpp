#include "engine/playback/platform_players.h"

#include "engine/core/captions.h"
#include "engine/core/run_state.h"
#include "engine/core/text_format.h"
#include "engine/libraries/lib_orvosoundmix.h"
#include "engine/pipeline/display_feed.h"
#include "engine/pipeline/pcm_stage.h"
#include "engine/pipeline/platform_readers.h"
#include "engine/pipeline/sink_wiring.h"
#include "engine/pipeline/texts_device.h"
#include "engine/playback/texts_players.h"
#include "engine/settings/settings.h"
#include "platform/ports.h"

namespace kestrel {

void platformPlayThread(PlayerKind kind, PositionReport report, std::atomic<int>& playResult) {
    if (running.load()) return;
    const EffectiveOutputFormat& f = outputFormat;
    playResult = -1; // until the sound starts
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
    bool prepared = false;
    if (rc != 0)
        showMessage(caption::kMain, text::device::kOpenFailed);
    else if (!(prepared = prepare_pcm_change(rateRatio, current.sourceChannels) >= 0))
        showMessage(caption::kMain, formatText(text::kPlayPcmChangeFailed, current.path));
    if (rc == 0 && prepared) {
        running = true;
        paused = false;
        seek_request = 0;
        seek_dragging = false;
        StageSink sink(nullptr, rateRatio, current.sourceChannels);
        ReaderResult r =
            kind == PlayerKind::WindowsMedia
                ? readWindowsMedia(re, sink, processRunFlags(), mainPcm(), report, nullptr)
                : readMediaGraph(re, sink, processRunFlags(), mainPcm(), 1.0, report, nullptr);
        // A graph that cannot be built ends the thread without sound.
        if (r == ReaderResult::Ended) playResult = 0;
        w.statusText(formatText(text::kPlayEnded, current.path));
    }
    close_pcm_change(nullptr, rateRatio);
    w.statusText(formatText(text::kPlayStopped, current.path));
    w.switchesOn(kBothSwitches);
    sound_on = true;
    display_on = true;
    effects_window_on = false;
    if (orvosoundmixLoaded()) orvosoundmix.orvomix_setdisp(0);
    w.statusText(text::kPlayIdle);
    running = false;
    paused = false;
    closeMainDevice();
    w.idle(Commands::all());
    w.position(0, current.durationSec);
    w.progress(0, current.durationSec);
}

} // namespace kestrel
