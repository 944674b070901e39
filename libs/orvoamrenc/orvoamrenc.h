/*
 * orvoamrenc.so: AMR narrow-band encoder on libopencore-amrnb, writing AMR
 * ring-tone files ("#!AMR\n" magic, then storage-format frames of 20 ms).
 *
 * Input: signed 16-bit little-endian mono PCM at 8000 Hz in pieces of any
 * length; every 320 bytes make one frame.
 *
 * Threading: one encoder per process, used by one thread at a time.
 */
#ifndef KESTREL_ORVOAMRENC_H
#define KESTREL_ORVOAMRENC_H

#define ORVOAMRENC_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Creates the file `path` (replacing an existing one), writes the magic and
 * starts an encoder at the bit rate `mode`, written as the mode's kbit/s
 * without the point: 475, 515, 59, 67, 74, 795, 102 or 122.
 * An encoder still open from an earlier init is closed first.
 * Returns 0; -1 for an unknown mode or a null path, -2 when the file cannot be
 * created or written, -3 when the encoder cannot be created.
 */
ORVOAMRENC_API int amr_init(int mode, const char* path);

/*
 * Encodes `length` bytes of PCM (the caller's buffer is only read). Bytes that
 * do not fill a whole frame are kept for the next call.
 * Returns the number of bytes written to the file by this call (0 when no frame
 * was completed); -1 when no encoder is open or `pcm` is null while `length`
 * is positive, -2 on a write error.
 */
ORVOAMRENC_API int amr_encode(const unsigned char* pcm, int length);

/*
 * Encodes the last partial frame, padded with silence, and closes the file.
 * Returns 0; -1 when no encoder was open; -2 when the last write or the close
 * failed.
 */
ORVOAMRENC_API int amr_close(void);

#ifdef __cplusplus
}
#endif

#endif
