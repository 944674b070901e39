/*
 * mp3enc.so: MPEG audio layer III encoder on libmp3lame.
 *
 * One encoder per process. An init call sets it up (replacing an earlier one)
 * and tells the caller how to feed it: `*samples_per_call` 16-bit samples (all
 * channels together, interleaved left then right) per wave_enmp3code call and
 * an output buffer of `*out_buffer_size` bytes for every call.
 *
 * The MPEG version follows the sample rate: 32000, 44100, 48000 Hz give MPEG-1,
 * 16000, 22050, 24000 Hz MPEG-2 and 8000, 11025, 12000 Hz MPEG-2.5. The
 * `version` argument (0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5) is informative only: the
 * rate decides. A bit rate that the version does not offer is replaced by the
 * nearest one.
 *
 * Output: every call returns whole frames only, each starting with its 0xFF
 * sync byte; bytes of an unfinished frame are kept for a later call.
 * The first frame of every stream is a placeholder for the Xing/LAME tag
 * ("Info" at a constant bit rate) (see wave_enmp3_vbrheader); left as it is, it decodes as one
 * frame of silence.
 *
 * Init calls return 0, or a negative value (the encoder is then unusable and
 * wave_enmp3code returns -1): -1 for a null pointer, a channel count other than
 * 1 or 2 or a sampling rate not listed above; -2 when the encoder refuses the
 * parameters. `*samples_per_call` and `*out_buffer_size` are set even when the
 * call fails.
 *
 * Threading: all calls from one thread at a time. The one encoder may spread
 * its work over threads of its own (wave_enmp3_threads).
 */
#ifndef KESTREL_MP3ENC_H
#define KESTREL_MP3ENC_H

#define MP3ENC_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* Constant bit rate of `kbps`. */
MP3ENC_API int wave_enmp3init_new(int* samples_per_call, int* out_buffer_size, int sample_rate,
                                  int kbps, int channels, int version);

/*
 * Average bit rate of `abr_kbps` (8 .. 320, limited to what the version
 * offers); `cbr_kbps` is not used.
 */
MP3ENC_API int wave_enmp3init_abr(int* samples_per_call, int* out_buffer_size, int sample_rate,
                                  int cbr_kbps, int channels, int version, int abr_kbps);

/*
 * Variable bit rate at `quality` 0 (best) .. 9 (smallest), frames between
 * `min_kbps` and `max_kbps`; `cbr_kbps` is not used.
 */
MP3ENC_API int wave_enmp3init_vbr(int* samples_per_call, int* out_buffer_size, int sample_rate,
                                  int cbr_kbps, int channels, int version, int quality,
                                  int min_kbps, int max_kbps);

/*
 * Encodes `samples` (0 .. samples_per_call) 16-bit samples from `pcm` and
 * writes the finished frames to `out` (room for out_buffer_size bytes).
 * Returns the bytes written; 0 while the encoder is still filling its
 * look-ahead (a full call of samples_per_call samples always completes at
 * least one frame); -1 when no encoder is ready, an argument is null or
 * `samples` is out of range.
 */
MP3ENC_API int wave_enmp3code(const short* pcm, int samples, unsigned char* out);

/*
 * Flushes the encoder: pads and encodes the samples it still holds and writes
 * the last frames to `out` (room for out_buffer_size bytes). After it,
 * wave_enmp3code returns -1 until the next init.
 * Returns the bytes written, or -1 when no encoder is ready or `out` is null.
 */
MP3ENC_API int wave_enmp3end(unsigned char* out);

/*
 * Writes the Xing/LAME tag frame (the "Info" tag at a constant bit rate) to
 * `out` (room for `capacity` bytes); call it after wave_enmp3end and write the
 * frame over the stream's first frame (same size). Returns the frame's size;
 * -1 when no encoder was set
 * up, `out` is null or `capacity` is too small.
 */
MP3ENC_API int wave_enmp3_vbrheader(unsigned char* out, int capacity);

/*
 * Segment-parallel encoding of the encoder set up by the last init call,
 * before its first wave_enmp3code call: with `threads` > 1 the stream is cut
 * into segments of about twenty seconds, encoded on `threads` threads and
 * joined into one stream of the same frames count, length and tag values
 * (the ReplayGain of the whole stream included) as a one-thread encoding (the
 * frames themselves differ around each join);
 * 1 or less encodes on the calling thread (the default).
 * While it is on, wave_enmp3code returns the frames of the segments joined so
 * far (often none; a call with 0 samples takes what is left, up to
 * out_buffer_size bytes at a time), and wave_enmp3end returns the rest in
 * calls of at most out_buffer_size bytes: call it until it returns 0.
 * Returns 0; -1 when no encoder is set up or it has already been fed.
 */
MP3ENC_API int wave_enmp3_threads(int threads);

/*
 * The joins of the segment-parallel encoding so far: `*joins` made, of which
 * `*widened` found no frame to join at in the planned overlap and fed the
 * encoder before the join on (see segments.h). Returns 0, -1 for a null
 * pointer.
 */
MP3ENC_API int wave_enmp3_joins(int* joins, int* widened);

#ifdef __cplusplus
}
#endif

#endif
