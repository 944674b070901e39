/*
 * orvosoundmix.so: sound effects on 16-bit PCM, processed in place.
 *
 * Three effects, applied in this order, each off after orvomix_begin:
 *   - equaliser: ten peaking IIR sections at 31, 62, 125, 250, 500, 1000,
 *     2000, 4000, 8000 and 16000 Hz (octave wide, Q = 1.41); sections at or
 *     above 0.45 x the sampling rate are left out;
 *   - echo: each sample gets the delayed signal added,
 *     y[n] = x[n] + wet * d[n - D], with the delay line d[n] = x[n] + feedback *
 *     d[n - D] (D = delay in samples per channel);
 *   - level: a gain in dB.
 * The result is rounded to the nearest integer and clipped to -32768 .. 32767.
 * With every effect off (or at neutral settings) the PCM is left untouched, bit
 * for bit.
 *
 * Threading: orvomix_change runs on the worker that processes the sound; the
 * set calls may come from another thread at any time and take effect from the
 * next orvomix_change call.
 */
#ifndef KESTREL_ORVOSOUNDMIX_H
#define KESTREL_ORVOSOUNDMIX_H

#define ORVOSOUNDMIX_API __attribute__((visibility("default")))

#define ORVOMIX_EQ_BANDS 10

#ifdef __cplusplus
extern "C" {
#endif

/* Prepares the library with every effect off, for 44100 Hz stereo. Returns 0. */
ORVOSOUNDMIX_API int orvomix_begin(void);

/* Releases the library's state and hides its window. Returns 0. */
ORVOSOUNDMIX_API int orvomix_close(void);

/*
 * Prepares processing of `sample_rate` Hz (1000 .. 384000), `channels` (1 or 2)
 * 16-bit PCM; `reserved` is 0. Effect settings are kept, their state is reset.
 * Returns 0, or -1 for a rate or channel count out of range (the format is then
 * unchanged).
 */
ORVOSOUNDMIX_API int orvomix_init(int sample_rate, int channels, int reserved);

/*
 * Processes `length` bytes of interleaved 16-bit PCM at `pcm` in place (a
 * trailing incomplete frame is left unchanged). Returns the bytes processed,
 * or -1 when `pcm` is null or `length` negative.
 */
ORVOSOUNDMIX_API int orvomix_change(unsigned char* pcm, int length);

/*
 * Shows (1) or hides (0) the effects window. Without a window of its own the
 * library only records the flag and passes it to the hook set by
 * orvomix_set_window_hook. Returns 0.
 */
ORVOSOUNDMIX_API int orvomix_setdisp(int show);

/*
 * Echo: `enable` 0/1, `delay_ms` 1 .. 2000, `feedback_percent` 0 .. 90,
 * `wet_percent` 0 .. 100 (values outside are clamped). Returns 0.
 */
ORVOSOUNDMIX_API int orvomix_setecho(int enable, int delay_ms, int feedback_percent,
                                     int wet_percent);

/*
 * Equaliser: `enable` 0/1 and `count` (0 .. 10) band gains in tenths of a dB
 * (-120 .. 120, clamped), lowest band first; bands beyond `count` are set to
 * 0 dB. Returns 0, or -1 when `gains_tenth_db` is null while `count` > 0.
 */
ORVOSOUNDMIX_API int orvomix_setiir(int enable, const int* gains_tenth_db, int count);

/* Level: `enable` 0/1, gain in tenths of a dB (-600 .. 200, clamped). Returns 0. */
ORVOSOUNDMIX_API int orvomix_setlevel(int enable, int gain_tenth_db);

/* Returns 1 while the effects window is shown (after orvomix_setdisp(1)), else 0. */
ORVOSOUNDMIX_API int orvomix_get_dispstatus(void);

/* Resets the effect state (delay line, filter memories) for a new stream. Returns 0. */
ORVOSOUNDMIX_API int orvomix_datarefresh(void);

/*
 * Not bound by the program's loader: lets a user interface show its own effects
 * window. `hook` (may be null) is called from orvomix_setdisp with the show
 * flag and `context`. Returns 0.
 */
ORVOSOUNDMIX_API int orvomix_set_window_hook(void (*hook)(int show, void* context), void* context);

#ifdef __cplusplus
}
#endif

#endif
