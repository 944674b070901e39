/*
 * orvoplay.so: the player program that a self-playing EXE output starts with.
 *
 * The library carries the player's bytes (a Windows program of exactly
 * ORVOPLAY_PLAYER_BYTES bytes) and hands them out in seven pieces; the EXE
 * writer puts them at the start of the file, then the 320-byte descriptor and
 * the masked MP3 data.
 *
 * Threading: the calls only read the embedded bytes (and write the named
 * file); any thread.
 */
#ifndef KESTREL_ORVOPLAY_H
#define KESTREL_ORVOPLAY_H

#define ORVOPLAY_API __attribute__((visibility("default")))

#define ORVOPLAY_PLAYER_BYTES 499712
#define ORVOPLAY_PIECES 7
#define ORVOPLAY_PIECE_BUFFER 82020

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Copies piece `piece` (1 .. 7) of the player into `buffer` (room for
 * ORVOPLAY_PIECE_BUFFER bytes) and returns its byte count; the pieces in
 * order make the whole player. -1 for another piece number or a null buffer.
 */
ORVOPLAY_API int orvo_getexedata(int piece, unsigned char* buffer);

/*
 * Writes the player followed by `length` bytes of `data` (the descriptor and
 * the masked MP3 data) to the file `path`, replacing it. 0, or -1 when the
 * file could not be written whole (what was written is removed).
 */
ORVOPLAY_API int orvo_writeexedata(const char* path, const unsigned char* data, int length);

/* Writes the player alone to `path`; as orvo_writeexedata. */
ORVOPLAY_API int orvo_writeexefile(const char* path);

#ifdef __cplusplus
}
#endif

#endif
