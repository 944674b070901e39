/*
 * orvoamrdec.so: AMR narrow-band decoder on libopencore-amrnb.
 *
 * Input is AMR storage-format frames as they follow the "#!AMR\n" magic of a
 * ring-tone file (or fill an MP4 "samr" sample): one header byte whose bits
 * 3..6 give the frame type FT, then the body of 12, 13, 15, 17, 19, 20, 26, 31
 * or 5 bytes for FT 0..8 and none for FT 9..15.
 *
 * Output: signed 16-bit little-endian mono PCM at 8000 Hz, 160 samples
 * (AMRDEC_PCM_PER_FRAME = 320 bytes) for every frame, including SID and
 * no-data frames (comfort noise or concealment).
 *
 * Threading: one decoder per process, used by one thread at a time.
 */
#ifndef KESTREL_ORVOAMRDEC_H
#define KESTREL_ORVOAMRDEC_H

#define ORVOAMRDEC_API __attribute__((visibility("default")))

#define AMRDEC_PCM_PER_FRAME 320

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Creates (or re-creates) the decoder for a new stream.
 * Returns 0, or -1 when the decoder cannot be created.
 */
ORVOAMRDEC_API int amrdecode_init(void);

/*
 * Decodes every complete frame in `data` (`length` bytes, one or more frames
 * back to back) into `pcm` (room for `capacity` bytes), 320 bytes per frame,
 * while the PCM fits. A frame cut short at the end of `data` is not decoded.
 * Returns the PCM bytes written (0 when `data` holds no complete frame or the
 * room is below 320 bytes); -1 when the decoder is not initialised or an
 * argument is null or negative.
 */
ORVOAMRDEC_API int amr_decode(const unsigned char* data, int length, unsigned char* pcm,
                              int capacity);

/* Releases the decoder (harmless when none exists). Returns 0. */
ORVOAMRDEC_API int amrdecode_close(void);

#ifdef __cplusplus
}
#endif

#endif
