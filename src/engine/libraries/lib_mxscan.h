// Program side of mxscan.so (stream probe for MPEG and MPEG-4 AVI files):
// typed entry points bound at load time. Loaded at start-up for the whole run.
#pragma once

#include "mxscan/mxscan.h"

#include <mutex>

namespace kestrel {

// Entry points in loader order (the number in a loader message is the
// position here, "%02d" from 01).
struct MxscanApi {
    decltype(&::mux_init) mux_init = nullptr;
    decltype(&::mux_get_allbit) mux_get_allbit = nullptr;
    decltype(&::open_stream) open_stream = nullptr;
    decltype(&::mux_get_video_bit) mux_get_video_bit = nullptr;
    decltype(&::mux_get_audio_bit) mux_get_audio_bit = nullptr;
    decltype(&::mux_get_ac3_bit) mux_get_ac3_bit = nullptr;
    decltype(&::mux_play_num) mux_play_num = nullptr;
    decltype(&::mux_play_time) mux_play_time = nullptr;
    decltype(&::mux_get_filelen) mux_get_filelen = nullptr;
    decltype(&::mux_get_video_disp) mux_get_video_disp = nullptr;
    decltype(&::mux_get_audio_disp) mux_get_audio_disp = nullptr;
    decltype(&::mux_get_ac3_disp) mux_get_ac3_disp = nullptr;
    decltype(&::mux_get_main_stream) mux_get_main_stream = nullptr;
    decltype(&::mux_get_video_mode) mux_get_video_mode = nullptr;
    decltype(&::mux_get_audio_mode) mux_get_audio_mode = nullptr;
    decltype(&::mux_get_min_pts) mux_get_min_pts = nullptr;
    decltype(&::mux_get_max_pts) mux_get_max_pts = nullptr;
    decltype(&::mux_get_video_pid) mux_get_video_pid = nullptr;
    decltype(&::mux_get_audio_pid) mux_get_audio_pid = nullptr;
    decltype(&::mux_get_begin) mux_get_begin = nullptr;
    decltype(&::mux_get_10num) mux_get_10num = nullptr;
    decltype(&::mux_get_20num) mux_get_20num = nullptr;
    decltype(&::mux_get_30num) mux_get_30num = nullptr;
    decltype(&::mux_get_5num) mux_get_5num = nullptr;
    decltype(&::mux_get_autonum) mux_get_autonum = nullptr;
    decltype(&::get_mpeg4_video) get_mpeg4_video = nullptr;
    decltype(&::get_mpeg4_audio) get_mpeg4_audio = nullptr;
    decltype(&::get_mpeg4_index) get_mpeg4_index = nullptr;
    decltype(&::get_mpeg4_aindex_num) get_mpeg4_aindex_num = nullptr;
    decltype(&::get_mpeg4_vindex_num) get_mpeg4_vindex_num = nullptr;
};
extern MxscanApi mxscan;

// Loads the library and binds every entry point; shows the loader message
// ("装载动态库mxscan.so错误" / "取函数NN错误，请检查是否该版本动态库") and
// returns a negative value on failure. Loads are counted: the library is
// released when every successful load has been matched by an unload.
int loadMxscan();
void unloadMxscan();
bool mxscanLoaded();

// The probe reports on the one file it opened last: a caller holds this lock
// from mux_init to its last question, so that the window's analysis and a
// worker's check of its source do not mix their files.
std::mutex& mxscanLock();

} // namespace kestrel
