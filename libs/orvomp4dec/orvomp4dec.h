/*
 * orvomp4dec.so: MP4 / 3GP / M4A demultiplexer on libavformat.
 *
 * One file at a time per thread: mp4de_init opens it, the other calls
 * describe it and read its samples, mp4de_close releases it.
 *
 * The library picks one audio and one video track when the file is opened:
 * the last track of the kind whose codec is one the program decodes ("samr",
 * "sawb", "mp4a" for sound; "s263", "mp4v", "avc1" for video), else the first
 * track of the kind. mp4_getaudio*, mp4_readaudio and mp4_getmp4aconfig
 * speak of that audio track, mp4_getvideo and mp4_readvideo of that video
 * track.
 *
 * Samples are the entries of the track's sample table in file order (edit
 * lists are not applied); time stamps are the sample's decoding time in
 * milliseconds from the start of the track.
 *
 * Text buffers: four-letter texts need 5 bytes, the audio name 64 bytes and
 * the video texts 16 bytes; texts are always NUL-terminated.
 *
 * Threading: the open file belongs to the calling thread (the media analysis
 * and a playback thread may each have one open at once); every call about a
 * file must come from the thread that opened it.
 */
#ifndef KESTREL_ORVOMP4DEC_H
#define KESTREL_ORVOMP4DEC_H

#define ORVOMP4DEC_API __attribute__((visibility("default")))

#define MP4DEC_NAME_BYTES 64
#define MP4DEC_VIDEO_TEXT_BYTES 16

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Opens `path` (an open file of this thread is closed first).
 * Returns 0; -1 when the file cannot be opened or is not an MP4-family file;
 * -2 when it has no track at all.
 */
ORVOMP4DEC_API int mp4de_init(const char* path);

/*
 * Facts of the video track: *width, *height (pixels), *frames (sample
 * count), *bit_rate (bit/s), *duration_ms; `codec` receives the codec's
 * four-letter text ("mp4v", "avc1", "s263" ...) and `frame_rate` the frame
 * rate as text ("25.000"), each at most 16 bytes. Any pointer may be null.
 * Returns the frame count (>= 0), or -1 when no file is open or it has no
 * video track (outputs untouched).
 */
ORVOMP4DEC_API int mp4_getvideo(int* width, int* height, int* frames, int* bit_rate,
                                double* duration_ms, char* codec, char* frame_rate);

/*
 * Sample count of the audio track; *largest_sample receives the size of the
 * largest sample in bytes (0 when unknown) and *codec 1 for AMR narrow-band
 * ("samr"), 2 for AMR wide-band ("sawb"), 3 for "mp4a" (AAC or MPEG audio),
 * 0 for others. Pointers may be null. Returns -1 without an audio track.
 */
ORVOMP4DEC_API int mp4_getaudionum(int* largest_sample, int* codec);

/*
 * Facts of the audio track: *sample_rate (Hz), *channels, *bit_rate (bit/s,
 * from the sample sizes when the file states none), *duration_ms. Pointers
 * may be null. Returns 0, or -1 without an open file or an audio track.
 */
ORVOMP4DEC_API int mp4_getaudio(int* sample_rate, int* channels, int* bit_rate,
                                double* duration_ms);

/*
 * Copies the audio track's decoder configuration (the AudioSpecificConfig of
 * AAC) into `buffer` (room for `capacity` bytes). Returns its length (0 when
 * the track has none), -1 without an audio track or with a null buffer, -2
 * when it does not fit (nothing is copied: a cut configuration is useless).
 */
ORVOMP4DEC_API int mp4_getmp4aconfig(unsigned char* buffer, int capacity);

/*
 * Reads sample `index` (0-based) of the video / audio track into `buffer`
 * (room for `capacity` bytes); *time_ms (may be null) receives its time stamp.
 * Returns the sample's byte count; -1 without the track or for an index out
 * of range, -2 when the sample is larger than `capacity` (nothing is read),
 * -3 when the file cannot be read there (a truncated file).
 */
ORVOMP4DEC_API int mp4_readvideo(int index, unsigned char* buffer, int capacity, double* time_ms);
ORVOMP4DEC_API int mp4_readaudio(int index, unsigned char* buffer, int capacity, double* time_ms);

/*
 * Describes track `index` (0-based, in file order): `handler` receives the
 * handler type ("vide", "soun", "text", "data" ...) and `codec` the sample
 * entry's four-letter code ("mp4a", "samr", "avc1" ...), 5 bytes each;
 * *value receives the track's ID from its header. Returns the track's sample
 * count (>= 0), or -1 without an open file or for an index out of range.
 */
ORVOMP4DEC_API int mp4_gettrackinfo(int index, char* handler, char* codec, int* value);

/* Number of tracks of the open file (0 when none is open). */
ORVOMP4DEC_API int mp4_gettracknum(void);

/* Closes the open file (harmless when none is open). Returns 0. */
ORVOMP4DEC_API int mp4de_close(void);

/*
 * Writes the audio track's codec name (at most 64 bytes): "MPEG-4 Audio
 * (14496-3)" for AAC, "MPEG-1 Audio (11172-3)" or "MPEG-2 Audio (13818-3)"
 * for MPEG audio layers I-III (by the version the first frame states, else by
 * the sampling rate), "AMR Narrowband", "AMR Wideband", else libavcodec's long
 * name. Returns the text's length, or -1 without an audio track or a buffer.
 */
ORVOMP4DEC_API int mp4_getaudioname(char* buffer);

/*
 * The audio track's trim from its edit list, or without one from iTunes'
 * gapless tag ("iTunSMPB"): *skip_samples, the encoder's priming at the
 * start, and *keep_samples, the samples to play after it (-1: all), both
 * counted at the track's sample rate. An MP4 with neither, or with one that
 * does not fit the track, gives 0 and -1. Returns 0,
 * or -1 without an open file or an audio track.
 */
ORVOMP4DEC_API int mp4_getaudiotrim(int* skip_samples, long long* keep_samples);

#ifdef __cplusplus
}
#endif

#endif
