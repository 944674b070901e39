/*
 * orvoaacenc.so: AAC encoder on libavcodec writing AAC files itself.
 *
 * Output types (the program's output type numbers):
 *   4  raw AAC: the bare access units one after another, no headers: the
 *      access units that type 5 writes with the same settings;
 *   5  MPEG-2 AAC: ADTS frames with the MPEG-2 ID bit (each frame starts
 *      FF F9);
 *   6  MP4 (AAC): an M4A file (MP4 with the iPod-compatible brands).
 * Profiles ("转换AAC编码类型"): 0 Low Complexity, 1 Main, 2 SSR, 3 LTP.
 * No AAC encoder implements SSR, so profile 2 encodes Low Complexity. MPEG-2
 * ADTS has no LTP object type: types 4 and 5 with profile 3 encode Main. Any other
 * profile value encodes Low Complexity.
 *
 * Input: signed 16-bit little-endian interleaved PCM at the rate and channel
 * count given to aac_init, in blocks of any size.
 *
 * Bit rate: the asked rate in bit/s, limited to what AAC can carry at the
 * sampling rate (6144 bits per channel per 1024 samples); the encoder aims at
 * it on average.
 *
 * One output at a time in the process; its calls must not overlap.
 */
#ifndef KESTREL_ORVOAACENC_H
#define KESTREL_ORVOAACENC_H

#define ORVOAACENC_API __attribute__((visibility("default")))

#define AACENC_RAW 4
#define AACENC_ADTS_MPEG2 5
#define AACENC_MP4 6

#define AACENC_PROFILE_LC 0
#define AACENC_PROFILE_MAIN 1
#define AACENC_PROFILE_SSR 2
#define AACENC_PROFILE_LTP 3

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Creates `path` and starts an encoder: `sample_rate` (Hz, 7350 .. 96000),
 * `channels` (1 or 2), `bit_rate` (bit/s, > 0), `output_type` (4, 5, 6),
 * `profile` (see above). `tag` (may be null) is written as the encoder name
 * of an MP4 file. An encoder still open is closed (its file finished) first.
 * Returns 0; -1 for a bad argument; -2 when the encoder refuses the
 * parameters; -3 when the file cannot be created.
 */
ORVOAACENC_API int aac_init(int sample_rate, int channels, int bit_rate, int output_type,
                            int profile, const char* path, const char* tag);

/*
 * Encodes `bytes` bytes of PCM (whatever does not fill a whole 1024-sample
 * frame, even a split sample, is kept for the next call). Returns the number
 * of encoded AAC bytes this call produced (>= 0; container headers not
 * counted), -1 when no encoder is open or the arguments are bad, -2 when
 * encoding or writing failed.
 */
ORVOAACENC_API int aac_encode(const unsigned char* pcm, int bytes);

/*
 * Optional: encodes the output on up to `threads` threads at once; `seconds`
 * is the output's expected playing time (an estimate: any length is encoded
 * whole). Called after aac_init and before the first aac_encode. The PCM is
 * cut into segments of minutes, each encoded by an encoder of its own that
 * starts half a minute early so that its bit allocation has settled, and the
 * segments' access units are joined in order: the file has the access units,
 * timestamps and length of a one-thread encoding of the same PCM, and
 * aac_encode reports the bytes of joined segments as they reach the file.
 * Outputs shorter than two minutes, and the Main profile (whose predictors
 * run on in the decoder across a join), are encoded on one thread. Returns
 * the threads the output is encoded on (1 or more); -1 without an open
 * encoder, for a bad count or after the first aac_encode.
 */
ORVOAACENC_API int aac_threads(int threads, int seconds);

/*
 * Encodes what is left, finishes the file (the MP4 index) and closes it.
 * Returns 0; -1 when no encoder is open; -2 when finishing the file failed.
 */
ORVOAACENC_API int aac_close(void);

#ifdef __cplusplus
}
#endif

#endif
