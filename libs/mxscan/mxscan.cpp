// Exports of the stream probe. One file is probed at a time: open_stream
// analyses it completely and the other calls report from that analysis.
#include "mxscan/mxscan.h"
#include "mxscan/probe.h"

#include <climits>
#include <cstring>

#define MX_EXPORT extern "C" MXSCAN_API

namespace {
mxscan::ProbeResult g;
bool gOpen = false;

int clampInt(int64_t v) {
    return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : int(v);
}
} // namespace

MX_EXPORT int mux_init() {
    g = mxscan::ProbeResult{};
    gOpen = false;
    return 0;
}

MX_EXPORT int open_stream(const char* path) {
    g = mxscan::ProbeResult{};
    gOpen = false;
    if (!path) return -1;
    if (mxscan::probeFile(path, g) < 0) return -1;
    gOpen = true;
    return 0;
}

MX_EXPORT int mux_get_main_stream() {
    return gOpen ? g.mainStream : -1;
}
MX_EXPORT int mux_get_audio_mode() {
    return g.audioMode;
}
MX_EXPORT int mux_get_video_mode() {
    return g.videoMode;
}
MX_EXPORT int mux_play_num() {
    return g.streamCount;
}
MX_EXPORT int mux_play_time() {
    return g.playTime;
}
MX_EXPORT int mux_get_filelen() {
    return clampInt(g.fileLen);
}
MX_EXPORT int mux_get_begin() {
    return clampInt(g.begin);
}
MX_EXPORT int mux_get_min_pts() {
    return g.minPts < 0 ? -1 : clampInt(g.minPts / 90);
}
MX_EXPORT int mux_get_max_pts() {
    return g.maxPts < 0 ? -1 : clampInt(g.maxPts / 90);
}
MX_EXPORT int mux_get_video_pid() {
    return g.videoPid;
}
MX_EXPORT int mux_get_audio_pid() {
    return g.audioPid;
}
MX_EXPORT int mux_get_allbit() {
    return clampInt(g.allBitRate);
}
MX_EXPORT int mux_get_video_bit() {
    return g.videoBitRate;
}
MX_EXPORT int mux_get_audio_bit() {
    return g.audioMode == 0 ? g.audioBitRate : 0;
}
MX_EXPORT int mux_get_ac3_bit() {
    return g.audioMode == 1 ? g.ac3BitRate : 0;
}

MX_EXPORT int mux_get_audio_disp(MxAudioDisp* d) {
    if (!d) return -1;
    std::memset(d, 0, sizeof *d);
    if (g.audioMode != 0) return 0;
    d->bitsPerSample = 16;
    d->bitRate = g.audioBitRate;
    d->sampleRate = g.sampleRate;
    d->channels = g.channels;
    d->layer = g.layer;
    return 0;
}

MX_EXPORT int mux_get_ac3_disp(MxAc3Disp* d) {
    if (!d) return -1;
    std::memset(d, 0, sizeof *d);
    if (g.audioMode != 1) return 0;
    d->sampleRate = g.ac3Rate;
    d->bitRate = g.ac3BitRate;
    d->channels = g.ac3Channels;
    return 0;
}

MX_EXPORT int mux_get_video_disp(MxVideoDisp* d) {
    if (!d) return -1;
    std::memset(d, 0, sizeof *d);
    d->width = g.width;
    d->height = g.height;
    d->frameRateMilli = int(g.frameRate * 1000 + 0.5);
    d->bitRate = g.videoBitRate;
    return 0;
}

MX_EXPORT int get_mpeg4_video(void* block) {
    if (!block) return -1;
    std::memcpy(block, g.mpeg4Video, sizeof g.mpeg4Video);
    return g.mainStream == 9 ? 0 : -1;
}

MX_EXPORT int get_mpeg4_audio(void* block) {
    if (!block) return -1;
    std::memcpy(block, g.mpeg4Audio, sizeof g.mpeg4Audio);
    return g.mainStream == 9 && g.audioIndexCount > 0 ? 0 : -1;
}

MX_EXPORT int get_mpeg4_vindex_num() {
    return g.videoIndexCount;
}
MX_EXPORT int get_mpeg4_aindex_num() {
    return g.audioIndexCount;
}

// Bound by the program but never called: defined results only.
MX_EXPORT int get_mpeg4_index(void*, int) {
    return 0;
}
MX_EXPORT int mux_get_10num() {
    return 0;
}
MX_EXPORT int mux_get_20num() {
    return 0;
}
MX_EXPORT int mux_get_30num() {
    return 0;
}
MX_EXPORT int mux_get_5num() {
    return 0;
}
MX_EXPORT int mux_get_autonum() {
    return 0;
}
