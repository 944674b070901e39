/*
 * orvomtvdec.so: MTV and AMV demultiplexer (own parsers).
 *
 * MTV: a 512-byte header ("AMV" signature, "MP3" audio tag at byte 43, audio
 * bit rate in kbit/s, 16-bit RGB picture size and picture segment size, the
 * number of 512-byte audio sub-blocks per frame), then frames of that many
 * sub-blocks (12 bytes of padding + 500 bytes of MPEG audio each) followed by
 * one picture. A block is the MPEG audio of one frame, padding removed, so
 * the blocks joined give the MPEG audio stream.
 *
 * AMV: a RIFF file of form "AMV " with an "amvh" header (microseconds per
 * frame, width, height, frame rate), a video and an audio stream list (the
 * audio "strf" is a WAVEFORMATEX) and a "movi" list of "00dc" pictures and
 * "01wb" audio chunks. A block is the payload of one audio chunk: an IMA
 * ADPCM block (16-bit predictor, 16-bit step index, a 32-bit sample count,
 * then two samples per byte). Chunk and list sizes of zero, as AMV writers
 * leave them, mean "up to the end of the file".
 *
 * Blocks are at most MTVDEC_MAX_BLOCK (20480) bytes; a file whose blocks are
 * larger is refused at init. Nothing read from a file is trusted: sizes and
 * counts are checked against the file's real length.
 *
 * Threading: one MTV and one AMV file per calling thread; the calls about a
 * file must come from the thread that opened it.
 */
#ifndef KESTREL_ORVOMTVDEC_H
#define KESTREL_ORVOMTVDEC_H

#define ORVOMTVDEC_API __attribute__((visibility("default")))

#define MTVDEC_MAX_BLOCK 20480

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Opens an MTV file (an open one of this thread is closed first).
 * Returns 0; -1 when it cannot be opened; -2 when it is not an MTV file or
 * its header is inconsistent (no picture size, no audio, blocks above
 * 20480 bytes); -3 when it holds no whole frame.
 */
ORVOMTVDEC_API int mtv_init(const char* path);

/*
 * *width, *height (pixels), *frame_rate (frames per second, rounded),
 * *picture_bytes (bytes of one picture), *seconds (playing time). Pointers
 * may be null. Returns the frame count, or -1 when no file is open.
 */
ORVOMTVDEC_API int mtv_getvideo(int* width, int* height, int* frame_rate, int* picture_bytes,
                                double* seconds);

/*
 * *sample_rate and *channels from the first MPEG audio frame header (44100
 * and 2 when none is found), *blocks the number of audio blocks (equal to the
 * frame count). Returns 0, or -1 when no file is open.
 */
ORVOMTVDEC_API int mtv_getaudio(int* sample_rate, int* channels, int* blocks);

/*
 * *colour_format (the 24-bit colour format field), *bits_per_pixel (16),
 * *bit_rate (audio kbit/s as stated). Returns 0, or -1 when no file is open.
 */
ORVOMTVDEC_API int mtv_getpicinfo(int* colour_format, int* bits_per_pixel, int* bit_rate);

/*
 * Reads audio block `index` (0-based) into `buffer` (room for `capacity`
 * bytes). Returns its byte count; -1 when no file is open, for a null buffer
 * or an index out of range; -2 when the block does not fit `capacity`; -3
 * when the file cannot be read there.
 */
ORVOMTVDEC_API int mtv_getdata(int index, unsigned char* buffer, int capacity);

/* Closes the MTV file (harmless when none is open). Returns 0. */
ORVOMTVDEC_API int mtv_close(void);

/* AMV counterparts of the calls above; amv_init returns the same codes. */
ORVOMTVDEC_API int amv_init(const char* path);

/*
 * *width, *height, *frame_rate (rounded), *us_per_frame (microseconds per
 * frame), *seconds. Returns the frame count (pictures in the file), or -1.
 */
ORVOMTVDEC_API int amv_getvideo(int* width, int* height, int* frame_rate, int* us_per_frame,
                                double* seconds);

/* *sample_rate, *channels from the audio format, *blocks the audio chunk count. */
ORVOMTVDEC_API int amv_getaudio(int* sample_rate, int* channels, int* blocks);

ORVOMTVDEC_API int amv_getdata(int index, unsigned char* buffer, int capacity);
ORVOMTVDEC_API int amv_close(void);

#ifdef __cplusplus
}
#endif

#endif
