/*
 * orvoaacdec.so: AAC decoder on libavcodec, in two forms.
 *
 * Buffer form (aacdecodebuf_init, aacbuf_decode, aacdecodebuf_close): the
 * caller hands over access units it has taken from a container (MP4 samples,
 * FLV AAC packets), or ADTS frames when it opens without a configuration.
 *
 * File form (aacdecode_init, aac_decode, get_mp4info, aacdecode_close): the
 * library opens an ADTS or ADIF stream file, or an MP4/M4A file, itself and
 * decodes it frame by frame.
 *
 * Output of both forms: signed 16-bit little-endian PCM, interleaved, at the
 * rate and channel count the init call reports. At most two channels: more
 * are downmixed. Should the stream turn out to decode at another rate or
 * layout (implicit SBR, a changed channel configuration), it is converted to
 * the reported one, so the caller's device set-up stays right. PCM that does
 * not fit the caller's buffer is kept and comes first from the next call;
 * 16384 bytes always hold one frame.
 *
 * Threading: each form keeps one stream per calling thread (the media
 * analysis and a playback thread may each have one); the calls about a stream
 * must come from the thread that opened it. The two forms are independent.
 */
#ifndef KESTREL_ORVOAACDEC_H
#define KESTREL_ORVOAACDEC_H

#define ORVOAACDEC_API __attribute__((visibility("default")))

/* PCM room that always holds the output of one frame. */
#define AACDEC_FRAME_PCM_BYTES 16384

/* File form modes. */
#define AACDEC_MODE_AUTO 0   /* by content: ADTS, ADIF or MP4 */
#define AACDEC_MODE_STREAM 1 /* ADTS or ADIF stream file (MPEG-2 AAC output) */
#define AACDEC_MODE_MP4 2    /* first AAC track of an MP4/M4A file */

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Buffer form. `config`/`length`: the decoder configuration
 * (AudioSpecificConfig, as in an MP4 "esds" or an FLV AAC sequence header);
 * with length 0 the decoder expects ADTS frames. `reserved`: callers pass
 * 1000; it is not used. `sample_rate`: the rate to report when the
 * configuration does not state one (ADTS input: the first frame decides it
 * later; until then this rate is reported). *out_rate and *out_channels
 * (may be null) receive the output rate and channel count (1 or 2).
 * Returns 0; -1 for a negative length or a null configuration with a
 * positive length; -2 when the configuration is not a valid AAC one; -3 when
 * the decoder cannot be opened. An open buffer decoder is closed first.
 */
ORVOAACDEC_API int aacdecodebuf_init(const unsigned char* config, int length, int reserved,
                                     int sample_rate, int* out_rate, int* out_channels);

/*
 * Decodes one access unit (or ADTS frame) of `length` bytes into `pcm` (room
 * for `capacity` bytes). Returns the PCM bytes written (>= 0; the first units
 * may give none while the decoder primes), -1 when no decoder is open or an
 * argument is null or negative, -2 when the unit is damaged (it is dropped;
 * decoding goes on with the next one).
 */
ORVOAACDEC_API int aacbuf_decode(const unsigned char* data, int length, unsigned char* pcm,
                                 int capacity);

/* Releases the buffer decoder (harmless when none is open). Returns 0. */
ORVOAACDEC_API int aacdecodebuf_close(void);

/*
 * File form: opens `path` in `mode` (AACDEC_MODE_*). *sample_rate and
 * *channels (may be null) receive the output rate and channel count.
 * Returns 0; -1 when the file cannot be opened; -2 when it holds no AAC
 * stream of the asked form; -3 when the decoder cannot be opened. An open
 * file of this thread is closed first.
 */
ORVOAACDEC_API int aacdecode_init(const char* path, int mode, int* sample_rate, int* channels);

/*
 * Decodes the next frame of the open file into `pcm` (room for `capacity`
 * bytes); *pcm_length receives the PCM bytes written (0 for a frame that gave
 * none). Returns the progress through the file in thousandths (0 .. 1000),
 * or -1 at the end of the file (after the last frame has been returned), when
 * no file is open or an argument is null. Damaged frames are skipped.
 */
ORVOAACDEC_API int aac_decode(unsigned char* pcm, int capacity, int* pcm_length);

/*
 * Facts of the open file: *sample_rate and *channels as reported by
 * aacdecode_init, *bit_rate (bit/s), *duration_ms (0 when unknown: an ADIF
 * file states no length). Pointers may be null. Returns 0, or -1 when no file
 * is open.
 */
ORVOAACDEC_API int get_mp4info(int* sample_rate, int* channels, int* bit_rate, double* duration_ms);

/* Closes the open file (harmless when none is open). Returns 0. */
ORVOAACDEC_API int aacdecode_close(void);

#ifdef __cplusplus
}
#endif

#endif
