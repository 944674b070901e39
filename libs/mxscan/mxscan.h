// Stream probe library (mxscan.so): the exports the program binds by name.
//
// Call mux_init() before each open_stream(path); open_stream returns a
// negative value when the file cannot be opened. The other calls then report
// on that file:
//   mux_get_main_stream   0 transport, 1 program, 2 PES, 3 elementary stream,
//                         9 MPEG-4 AVI, 999 a form it does not know
//   mux_get_audio_mode    0 MPEG audio, 1 AC-3, -99 no audio
//   mux_get_video_mode    1 MPEG-1/2 video present, 0 none
//   mux_play_num          number of elementary streams found
//   mux_play_time         play time in whole seconds
//   mux_get_filelen       file length in bytes (saturated at INT32_MAX)
//   mux_get_begin         file offset of the first audio data
//   mux_get_min_pts / mux_get_max_pts   first / last audio time stamp in ms
//   mux_get_video_pid / mux_get_audio_pid   PIDs (transport) or stream ids
//   mux_get_allbit, mux_get_video_bit, mux_get_audio_bit, mux_get_ac3_bit
//                         bit rates in bit/s (0 when unknown)
// Exports kept for the program's binding that report nothing (they return 0):
// mux_get_10num, mux_get_20num, mux_get_30num, mux_get_5num, mux_get_autonum,
// get_mpeg4_index.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// mux_get_audio_disp: six int32 (24 bytes).
struct MxAudioDisp {
    int32_t bitsPerSample; // 16 for MPEG audio (decoded width)
    int32_t bitRate;       // bit/s; 0 when the audio is not MPEG audio
    double sampleRate;     // Hz
    int32_t channels;
    int32_t layer; // 1..3
};

// mux_get_ac3_disp.
struct MxAc3Disp {
    float sampleRate;
    int32_t bitRate; // bit/s; 0 when there is no AC-3 audio
    int32_t channels;
};

// mux_get_video_disp: six int32.
struct MxVideoDisp {
    int32_t width, height;
    int32_t frameRateMilli; // frames per 1000 s
    int32_t bitRate;        // bit/s from the sequence header
    int32_t aspect, spare;
};

// get_mpeg4_video fills 80 bytes: int32 width @0, height @4, fourcc @8,
// bits per pixel @12, frame count @16, scale @20, rate @24, float64 frame
// rate @48. get_mpeg4_audio fills 64 bytes: int32 format tag @0, average
// bytes per second @4, block align @8, bits per sample @12, scale @16, rate
// @20, length @24, channels @52, sampling rate @56.
enum { kMxMpeg4VideoBytes = 80, kMxMpeg4AudioBytes = 64 };

#define MXSCAN_API __attribute__((visibility("default")))

// In the order the program binds them.
MXSCAN_API int mux_init(void);
MXSCAN_API int mux_get_allbit(void);
MXSCAN_API int open_stream(const char* path);
MXSCAN_API int mux_get_video_bit(void);
MXSCAN_API int mux_get_audio_bit(void);
MXSCAN_API int mux_get_ac3_bit(void);
MXSCAN_API int mux_play_num(void);
MXSCAN_API int mux_play_time(void);
MXSCAN_API int mux_get_filelen(void);
MXSCAN_API int mux_get_video_disp(struct MxVideoDisp* disp);
MXSCAN_API int mux_get_audio_disp(struct MxAudioDisp* disp);
MXSCAN_API int mux_get_ac3_disp(struct MxAc3Disp* disp);
MXSCAN_API int mux_get_main_stream(void);
MXSCAN_API int mux_get_video_mode(void);
MXSCAN_API int mux_get_audio_mode(void);
MXSCAN_API int mux_get_min_pts(void);
MXSCAN_API int mux_get_max_pts(void);
MXSCAN_API int mux_get_video_pid(void);
MXSCAN_API int mux_get_audio_pid(void);
MXSCAN_API int mux_get_begin(void);
MXSCAN_API int mux_get_10num(void);
MXSCAN_API int mux_get_20num(void);
MXSCAN_API int mux_get_30num(void);
MXSCAN_API int mux_get_5num(void);
MXSCAN_API int mux_get_autonum(void);
MXSCAN_API int get_mpeg4_video(void* block80);
MXSCAN_API int get_mpeg4_audio(void* block64);
MXSCAN_API int get_mpeg4_index(void* entries, int count);
MXSCAN_API int get_mpeg4_aindex_num(void);
MXSCAN_API int get_mpeg4_vindex_num(void);

#ifdef __cplusplus
}
#endif
