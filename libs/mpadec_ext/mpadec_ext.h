/*
 * mpadec_ext.so: MPEG audio frame decoder (MPEG-1, 2 and 2.5, layers I, II
 * and III) on libmpg123.
 *
 * The caller cuts the stream into frames itself and hands them over in frame
 * slots: a slot is MPADEC_SLOT_BYTES (2888) bytes, the frame's bytes from the
 * start of its header in the first 2884 bytes, followed by the frame length as
 * a little-endian int32 at byte 2884. Frames are passed in stream order. The
 * room holds every frame length a header can give (at most 2881 bytes) and
 * free-format frames up to that length.
 *
 * Decoders are numbered instances (0 .. MPADEC_MAX_INSTANCES - 1), each with
 * its own stream state; the conversion and playback threads use instance 0.
 *
 * Output: signed 16-bit little-endian PCM at the stream's own sampling rate,
 * interleaved left then right for two-channel streams; 1152 samples per channel
 * per frame (384 for layer I, 576 for layer III of MPEG-2 and 2.5).
 *
 * Threading: one instance is used by one thread at a time; different instances
 * may be used by different threads at once.
 */
#ifndef KESTREL_MPADEC_EXT_H
#define KESTREL_MPADEC_EXT_H

#define MPADEC_API __attribute__((visibility("default")))

#define MPADEC_FRAME_BYTES 2884
#define MPADEC_SLOT_BYTES 2888
#define MPADEC_MAX_INSTANCES 16
#define MPADEC_MAX_FRAMES_PER_CALL 1024

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Prepares the library (call once after loading; calling again is harmless).
 * Returns 0, or -1 when the underlying decoder library cannot be initialised.
 */
MPADEC_API int mp3_init(void);

/*
 * Opens instance `instance` for the stream whose first frame slot is
 * `first_slot` (the frame is only inspected, not decoded: pass it again to
 * mp3_play). An instance that is already open is reset first.
 * Returns 1 when the instance is ready; 0 when the slot does not begin with a
 * valid MPEG audio header (the instance stays closed); -1 for a bad instance
 * number, a null slot or a slot length outside 4 .. MPADEC_FRAME_BYTES.
 */
MPADEC_API int mp3_open(int instance, const unsigned char* first_slot);

/*
 * Decodes `count` frame slots (0 .. MPADEC_MAX_FRAMES_PER_CALL) of an open
 * instance and writes their PCM to `pcm` (room for `capacity` bytes).
 * Returns the number of PCM bytes written (0 when the frames produced no
 * sound yet). PCM that does not fit is kept and comes first from the next call,
 * so no sound is lost; 32 stereo MPEG-1 frames need 147456 bytes.
 * Damaged frames are skipped by the decoder's own resynchronisation.
 * Returns -1, decoding nothing, when the instance is not open, an argument is
 * null or out of range, or any slot's length is outside 0 .. MPADEC_FRAME_BYTES.
 */
MPADEC_API int mp3_play(int instance, const unsigned char* slots, int count, unsigned char* pcm,
                        int capacity);

/*
 * Releases instance `instance` (harmless when it is not open).
 * Returns 0, or -1 for a bad instance number.
 */
MPADEC_API int mp3_close(int instance);

#ifdef __cplusplus
}
#endif

#endif
