// The playback threads of the sources the platform decodes: the Windows Media
// thread (type text "ASF") and the media-graph thread (kinds 6000, 7000 and
// 8000). The platform hands the PCM to pcm_sink on its own thread; these
// threads start it and watch the run flags. They cannot seek.
#pragma once

#include "engine/pipeline/mpeg_readers.h"
#include "engine/playback/players.h"

namespace kestrel {

// Plays `current` on the calling thread (the player's), reporting the
// position through `report`. Sets the play result like the other threads.
void platformPlayThread(PlayerKind kind, PositionReport report, std::atomic<int>& playResult);

// True for the player kinds platformPlayThread plays.
constexpr bool isPlatformPlayer(PlayerKind k) {
    return k == PlayerKind::WindowsMedia || k == PlayerKind::DirectShow;
}

} // namespace kestrel
