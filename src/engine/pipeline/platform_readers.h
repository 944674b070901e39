// The reading of sources the platform decodes: RealMedia, QuickTime and every
// other file of the media graph (route 6 and the DirectShow playback thread)
// and Windows Media files through WmAudioReader (route 3 and the Windows
// Media playback thread). The platform hands the decoded PCM on its own
// thread; the calling worker only starts it, polls its run flags every 10 ms
// (stop, pause, and a seek, which the platform serves at the media time of
// the second asked for) and reports the position from the media time.
#pragma once

#include "engine/pipeline/mpeg_readers.h"

namespace kestrel {

// Reads the entry through the media graph at `graphRate` (the conversion
// mode's rate: graphRateForMode). OpenFailed when no graph can be built.
ReaderResult readMediaGraph(const ReaderEntry& e, PcmSinkPath& sink, RunFlags flags, PcmBuffer& pcm,
                            double graphRate, PositionReport report, void* context);

// Who hears of the end of a Windows Media file: the main window (the main
// player and the conversion), or nobody beyond the caller (a player with a
// window of its own, as the output manager).
enum class WmEndReport { MainWindow, Caller };

// Reads the entry through the Windows Media reader. OpenFailed when it cannot
// be opened or started.
ReaderResult readWindowsMedia(const ReaderEntry& e, PcmSinkPath& sink, RunFlags flags,
                              PcmBuffer& pcm, PositionReport report, void* context,
                              WmEndReport endReport = WmEndReport::MainWindow);

} // namespace kestrel
