// The conversion routes whose sources are read through the run-time
// libraries: AMR ring tones (route 88), raw AAC files (route 89, read like
// the AAC playback thread) and the MP4 family (route 7).
#pragma once

#include "engine/convert/conversion_driver.h"
#include "engine/pipeline/mpeg_readers.h"

namespace kestrel {

// Reads the entry through the reader of `route` into `out` (the driver has
// prepared the PCM change for the entry's facts). Returns the rate ratio the
// PCM change works with at the end: the decoder may have stated another
// format than the entry's, and the change has then been set up again.
double readLibrarySource(ReaderRoute route, const ReaderEntry& e, PcmOutput* out, PcmBuffer& pcm,
                         PositionReport report, void* context);

} // namespace kestrel
