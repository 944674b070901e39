// Flash, MTV and AMV files in the media catalogue: the analysis branches that
// list them and the loading of an SWF movie (inflating a compressed one)
// that the readers share.
#pragma once

#include "engine/catalogue/media_record.h"
#include "engine/containers/swf.h"

#include <string>

namespace kestrel {

// Reads and parses an SWF movie; a compressed ("CWS") movie is inflated
// through the inflate library. Returns 0, or a negative value after its
// message has been shown: -1 not an SWF movie or compressed with LZMA
// ("ZWS"), -2 the file cannot be read or the inflate library not loaded,
// -3 a damaged compressed movie.
int loadSwfMovie(const std::string& path, SwfMovie& movie);

// The analysis branches (0, or negative after the refusal's message):
// FLV or F4V, SWF, AMV and MTV.
// A file whose first sound tag is 8-bit is refused for good (`final` set):
// no other reader is tried for it.
int analyzeFlv(const std::string& path, MediaRecord& rec, uint64_t size, bool* final = nullptr);
int analyzeSwf(const std::string& path, MediaRecord& rec, uint64_t size);
int analyzeMtvAmv(const std::string& path, MediaRecord& rec, uint64_t size, bool amv);

// Rate and channels of the first MPEG audio frame header among `size`
// bytes; false when there is none.
bool firstMpegFacts(const uint8_t* data, size_t size, int& rate, int& channels);

} // namespace kestrel
