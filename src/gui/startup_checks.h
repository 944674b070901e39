// The checks the window makes before it opens: a sound device, then the
// run-time libraries it keeps for its whole run.
#pragma once

namespace kestrel::gui {

// The exit status of a start that could not go on.
inline constexpr int kStartFailed = 1;

// Checks for a sound device and loads, in this order, the MP4 demultiplexer,
// the stream probe, the self-playing EXE's player and the MP3 encoder. The
// first failure shows its message (a library's loader its own) and gives -1;
// 0 when the window can open.
int checkStart();

} // namespace kestrel::gui
