// What every playback thread does around its reading loop: the window's
// state (busy commands, start, end and idle texts, position, progress,
// volume), the main sound device, the PCM stage and the run flags.
//
// Threading: runs on the playback thread; one playback at a time.
#pragma once

#include "engine/pipeline/mpeg_readers.h"

#include <functional>

namespace kestrel {

// The position report of the playback threads: status text, progress bar,
// slider and clock.
void reportPlayPosition(int second, void* context);

// Opens the device at the output format, prepares the PCM stage for the
// entry in `current` and, when both worked, sets the run flags and calls
// `read` (the entry with its rate ratio). `read` returns the rate ratio the
// PCM stage ended with (a reader that learns the real format may change it).
// Then it ends the playback as the window expects: the stage, the switches,
// the flags, the device, the idle commands. Returns true when `read` ran.
bool runPlayback(const std::function<double(const ReaderEntry&)>& read);

} // namespace kestrel
