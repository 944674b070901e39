/*
 * orvoadpcmdec.so: ADPCM decoder on libavcodec, chosen by the WAVE format tag.
 *
 * Any tag that libavformat maps to an ADPCM codec is accepted: Microsoft ADPCM
 * (0x0002), IMA/DVI ADPCM (0x0011), Yamaha (0x0020), G.726 (0x0045),
 * Duck DK3/DK4 (0x0062/0x0061), Creative (0x0200) and so on.
 *
 * Input: the stream's bytes as stored in the file (a WAV data chunk, AVI
 * audio chunks). Block-based formats are decoded one block (nBlockAlign
 * bytes) at a time; input need not end on a block edge: a partial block is
 * kept until the rest arrives, or until a flush call.
 *
 * Output: signed 16-bit little-endian PCM at the stream's rate and channel
 * count, interleaved (left, right). PCM that does not fit the caller's buffer
 * is kept and comes first from the next call.
 *
 * Threading: the decoder belongs to the calling thread (each thread that calls
 * orvo_adpcm_init has its own) and must be used from that thread.
 */
#ifndef KESTREL_ORVOADPCMDEC_H
#define KESTREL_ORVOADPCMDEC_H

#define ORVOADPCMDEC_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Opens a decoder for the stream described by `wave_format`, the format
 * chunk as stored in the file (WAVEFORMATEX, little-endian: format tag,
 * channels, samples per second, average bytes per second, block align, bits
 * per sample, then optionally the extra size and its extra bytes), `length`
 * bytes (at least 16). An open decoder is closed first.
 * Returns 0; -1 for a null or short format; -2 when the tag is not an ADPCM
 * format libavcodec knows; -3 for channels outside 1..2, a rate outside
 * 1..384000 or a missing block align where the format needs one; -4 when the
 * decoder refuses the parameters.
 */
ORVOADPCMDEC_API int orvo_adpcm_init(const unsigned char* wave_format, int length);

/*
 * Decodes `length` bytes of stream data and writes PCM to `pcm` (room for
 * `capacity` bytes). `data` null or `length` 0 flushes: a partial block kept
 * from earlier calls is decoded as the stream's last block.
 * Returns the PCM bytes written (>= 0; damaged blocks give no PCM and are
 * skipped), or -1 when no decoder is open or `pcm` is null or a size is
 * negative.
 */
ORVOADPCMDEC_API int orvo_adpcm_decode(const unsigned char* data, int length, unsigned char* pcm,
                                       int capacity);

/* Releases the decoder (harmless when none is open). Returns 0. */
ORVOADPCMDEC_API int orvo_adpcm_close(void);

#ifdef __cplusplus
}
#endif

#endif
