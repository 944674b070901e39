#include "engine/libraries/lib_mxscan.h"

#include "engine/libraries/library_loader.h"

namespace kestrel {

MxscanApi mxscan;

namespace {

LibraryBinding& binding() {
    static LibraryBinding b{"mxscan.so",
                            LoaderStyle::Standard,
                            "%02d",
                            1,
                            {
                                bindExport("mux_init", mxscan.mux_init),
                                bindExport("mux_get_allbit", mxscan.mux_get_allbit),
                                bindExport("open_stream", mxscan.open_stream),
                                bindExport("mux_get_video_bit", mxscan.mux_get_video_bit),
                                bindExport("mux_get_audio_bit", mxscan.mux_get_audio_bit),
                                bindExport("mux_get_ac3_bit", mxscan.mux_get_ac3_bit),
                                bindExport("mux_play_num", mxscan.mux_play_num),
                                bindExport("mux_play_time", mxscan.mux_play_time),
                                bindExport("mux_get_filelen", mxscan.mux_get_filelen),
                                bindExport("mux_get_video_disp", mxscan.mux_get_video_disp),
                                bindExport("mux_get_audio_disp", mxscan.mux_get_audio_disp),
                                bindExport("mux_get_ac3_disp", mxscan.mux_get_ac3_disp),
                                bindExport("mux_get_main_stream", mxscan.mux_get_main_stream),
                                bindExport("mux_get_video_mode", mxscan.mux_get_video_mode),
                                bindExport("mux_get_audio_mode", mxscan.mux_get_audio_mode),
                                bindExport("mux_get_min_pts", mxscan.mux_get_min_pts),
                                bindExport("mux_get_max_pts", mxscan.mux_get_max_pts),
                                bindExport("mux_get_video_pid", mxscan.mux_get_video_pid),
                                bindExport("mux_get_audio_pid", mxscan.mux_get_audio_pid),
                                bindExport("mux_get_begin", mxscan.mux_get_begin),
                                bindExport("mux_get_10num", mxscan.mux_get_10num),
                                bindExport("mux_get_20num", mxscan.mux_get_20num),
                                bindExport("mux_get_30num", mxscan.mux_get_30num),
                                bindExport("mux_get_5num", mxscan.mux_get_5num),
                                bindExport("mux_get_autonum", mxscan.mux_get_autonum),
                                bindExport("get_mpeg4_video", mxscan.get_mpeg4_video),
                                bindExport("get_mpeg4_audio", mxscan.get_mpeg4_audio),
                                bindExport("get_mpeg4_index", mxscan.get_mpeg4_index),
                                bindExport("get_mpeg4_aindex_num", mxscan.get_mpeg4_aindex_num),
                                bindExport("get_mpeg4_vindex_num", mxscan.get_mpeg4_vindex_num),
                            }};
    return b;
}

} // namespace

int loadMxscan() {
    return loadLibrary(binding());
}

void unloadMxscan() {
    unloadLibrary(binding());
}

bool mxscanLoaded() {
    return isLoaded(binding());
}

std::mutex& mxscanLock() {
    static std::mutex m;
    return m;
}

} // namespace kestrel
