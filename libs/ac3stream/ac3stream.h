/*
 * ac3stream.so: AC-3 frame decoder on libavcodec.
 *
 * The caller splits the stream into whole AC-3 frames (sync word 0x0B 0x77)
 * and passes them one at a time in stream order.
 *
 * Output: signed 16-bit little-endian PCM, always two interleaved channels
 * (left, right) at the sampling rate of the first frame decoded after
 * ac3buf_init. Multichannel streams are downmixed by the decoder with the mix
 * levels the stream carries; mono streams come out on both channels. A frame
 * gives 1536 samples per channel (6144 bytes); should a later frame carry
 * another rate, it is resampled to the first one.
 *
 * Threading: the decoder state belongs to the calling thread; each thread
 * that calls ac3buf_init has its own decoder, and must make its other calls
 * from the same thread.
 */
#ifndef KESTREL_AC3STREAM_H
#define KESTREL_AC3STREAM_H

#define AC3STREAM_API __attribute__((visibility("default")))

/* PCM bytes of one decoded frame: 1536 samples x 2 channels x 2 bytes. */
#define AC3STREAM_FRAME_PCM_BYTES 6144

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Prepares a decoder for a new stream (an open decoder is reset first).
 * Returns 0, or -1 when no AC-3 decoder is available.
 */
AC3STREAM_API int ac3buf_init(void);

/* Releases the decoder (harmless when none is open). Returns 0. */
AC3STREAM_API int ac3buf_close(void);

/*
 * Decodes one frame of `length` bytes and writes its PCM to `pcm` (room for
 * `capacity` bytes); *pcm_length receives the byte count written.
 * Returns the byte count written (>= 0). PCM that does not fit the buffer is
 * kept and comes first from the next call.
 * Returns -1 when no decoder is open or an argument is null or negative
 * (nothing decoded, *pcm_length 0 when it can be written), -2 when the frame
 * is damaged or not an AC-3 frame (it is dropped; the next frame decodes
 * normally).
 */
AC3STREAM_API int ac3buf_readdata(const unsigned char* frame, int length, unsigned char* pcm,
                                  int capacity, int* pcm_length);

/* 1 when the calling thread has an open decoder, else 0. */
AC3STREAM_API int ac3buf_get_handle(void);

#ifdef __cplusplus
}
#endif

#endif
