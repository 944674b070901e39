#include "engine/playback/play_session.h"

#include "engine/core/captions.h"
#include "engine/core/run_state.h"
#include "engine/core/text_format.h"
#include "engine/libraries/lib_orvosoundmix.h"
#include "engine/pipeline/display_feed.h"
#include "engine/pipeline/pcm_stage.h"
#include "engine/pipeline/sink_wiring.h"
#include "engine/pipeline/texts_device.h"
#include "engine/pipeline/wave_out_ring.h"
#include "engine/playback/texts_players.h"
#include "engine/settings/settings.h"
#include "platform/ports.h"

#include <cstdio>

namespace kestrel {

void reportPlayPosition(int second, void*) {
    char buf[1400];
    std::snprintf(buf, sizeof buf, text::kPlayStatus, current.path.c_str(), second,
                  current.durationSec);
    WindowPort& w = window();
    w.statusText(buf);
    w.progress(second, current.durationSec);
    w.position(second, current.durationSec);
    w.clock(second);
}

bool runPlayback(const std::function<double(const ReaderEntry&)>& read) {
    const EffectiveOutputFormat& f = outputFormat;
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
    // Without a device or a rate changer there is nothing to hear: say so.
    bool prepared = false;
    if (rc != 0)
        showMessage(caption::kMain, text::device::kOpenFailed);
    else if (!(prepared = prepare_pcm_change(rateRatio, current.sourceChannels) >= 0))
        showMessage(caption::kMain, formatText(text::kPlayPcmChangeFailed, current.path));
    double ratio = rateRatio;
    const bool ran = rc == 0 && prepared;
    if (ran) {
        running = true;
        paused = false;
        seek_request = 0;
        seek_dragging = false;
        ratio = read(re);
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
    closeMainDevice();
    w.idle(Commands::all());
    w.position(0, current.durationSec);
    w.progress(0, current.durationSec);
    return ran;
}

} // namespace kestrel
