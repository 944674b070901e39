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
#include "engine/playback/play_session.h"
#include "engine/playback/texts_players.h"
#include "engine/settings/settings.h"
#include "platform/ports.h"

namespace kestrel {

void platformPlayThread(PlayerKind kind, PositionReport report, std::atomic<int>& playResult) {
    if (running.load()) return;
    playResult = -1; // until the sound starts
    runPlayback([&](const ReaderEntry& re) {
        StageSink sink(nullptr, rateRatio, current.sourceChannels);
        ReaderResult r =
            kind == PlayerKind::WindowsMedia
                ? readWindowsMedia(re, sink, processRunFlags(), mainPcm(), report, nullptr)
                : readMediaGraph(re, sink, processRunFlags(), mainPcm(), 1.0, report, nullptr);
        // A graph that cannot be built ends the thread without sound.
        if (r == ReaderResult::Ended) playResult = 0;
        return rateRatio;
    });
}

} // namespace kestrel
