// The playback threads of the sources read through the run-time libraries:
// AMR ring tones, raw AAC files and the MP4 family. They share the shape of
// the MPEG threads: load the decoders, open the device, read and decode
// through the same reader as the conversion into pcm_sink, end and release.
#pragma once

#include "engine/playback/players.h"

namespace kestrel {

// True for the kinds played here.
bool isLibraryPlayer(PlayerKind kind);
// The thread's body for the current entry. Returns 0 when the sound started,
// negative when it could not (the message has been shown).
int libraryPlayerThread(PlayerKind kind);

} // namespace kestrel
