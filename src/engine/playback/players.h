// Playback: the play request reads an entry's facts from the list, derives
// the output format and starts the playback thread of the entry's type. The
// threads read and decode like the conversion routes and call the same
// pcm_sink with `converting` cleared, so what is heard is what a conversion
// would write.
//
// Threading: play_request and the transport commands run on the window's
// thread; one playback thread at a time.
#pragma once

#include "engine/catalogue/media_record.h"

#include <string>

namespace kestrel {

enum class PlayerKind {
    None,
    MpegAudio,
    MpegStream,
    Avi,
    WindowsMedia,
    DirectShow,
    Aac,
    Mp4,
    Amr,
    Swf,
    MtvAmv,
    Flv
};

PlayerKind playerFor(const std::string& typeName, MediaKind kind);

// Plays list row `index` (the first row when out of range). 0 when a thread
// started; negative when nothing started (a busy player shows its message;
// a type without a player here starts nothing).
int play_request(int index);
// Waits for the playback thread to end.
void wait_playback();
// True from a successful play_request until its thread has ended.
bool playback_active();
// How the last playback ended: 0 it played (to its end or until stopped);
// negative when it could not start (its message has been shown).
int playback_result();

// Transport commands.
void stop_command();
void pause_command();
void seek_command(int second); // the position slider released at `second`
void drag_command(int second); // the position slider moved to `second`
void record_toggle_command();  // pause or resume writing the output
// The sound and display switches (`checked` = switched off).
void sound_switch_command(bool checked);
void display_switch_command(bool checked);
// Encode-gain sliders 0..80 and playback-volume sliders 1..65500.
void gain_slider_command(bool left, int position);
void volume_slider_command(bool left, int position);
// Shows or hides the sound-effects window.
void effects_window_command();

} // namespace kestrel
