// The reading loops of Flash video (FLV), Flash movies (SWF) and the MTV and
// AMV files of portable players, shared by their playback threads and the
// conversion driver. Each reads its source in units (an FLV audio tag, an
// SWF sound block, an MTV or AMV audio block), polls its run flags once per
// unit, decodes into the reader's PCM buffer and hands the PCM to its sink.
// Seeks move to the unit at the same proportion of the playing time.
#pragma once

#include "engine/pipeline/mpeg_readers.h"

namespace kestrel {

enum class FlashSource { Flv, Swf, Mtv, Amv };

// The source of an entry's type text ("FLV", "SWF", "MTV", "AMV"); false
// for any other.
bool flashSourceFor(const std::string& typeName, FlashSource& source);

// Loads the decoder libraries a source needs (MPEG audio; AAC for FLV; the
// MTV/AMV library for MTV and AMV); on failure the loader's message has been
// shown, nothing stays loaded and -1 is returned.
int loadFlashLibraries(FlashSource source);
void unloadFlashLibraries(FlashSource source);

// Reads the entry with the reader's decoder and PCM buffer (the libraries
// must be loaded). Ended also for a source without sound (nothing reaches
// the sink); OpenFailed after the message when the file cannot be read.
ReaderResult readFlashSource(FlashSource source, MpegReader& reader, const ReaderEntry& e,
                             PcmSinkPath& sink, PositionReport report, void* context);

// The window's workers' loop into pcm_sink (see readMpegAudioFile).
ReaderResult readFlashSource(FlashSource source, const ReaderEntry& e, PcmOutput* out,
                             PositionReport report, void* context);

// Unit index of a seek to `second` among `units` units over `durationSec`.
size_t unitForSecond(int second, int durationSec, size_t units);

} // namespace kestrel
