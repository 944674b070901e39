/*
 * inflator.so: zlib-format decompression of a whole buffer, on zlib.
 *
 * Threading: no shared state; any thread.
 */
#ifndef KESTREL_INFLATOR_H
#define KESTREL_INFLATOR_H

#define INFLATOR_API __attribute__((visibility("default")))

#define INFLATOR_OK 0
#define INFLATOR_MEM_ERROR (-4)
#define INFLATOR_BUF_ERROR (-5)
#define INFLATOR_DATA_ERROR (-3)

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Decompresses the zlib stream `source` (`source_len` bytes) into `dest`, whose
 * room `*dest_len` gives in bytes; on return `*dest_len` holds the bytes
 * written. Returns INFLATOR_OK (0) when the whole stream was decompressed and
 * its checksum matched; INFLATOR_BUF_ERROR when `dest` was too small or the
 * stream ends early; INFLATOR_DATA_ERROR for damaged data, a bad checksum or a
 * null argument; INFLATOR_MEM_ERROR when memory ran out. The same contract and
 * codes as zlib's uncompress.
 */
INFLATOR_API int uncompress(unsigned char* dest, unsigned long* dest_len,
                            const unsigned char* source, unsigned long source_len);

#ifdef __cplusplus
}
#endif

#endif
