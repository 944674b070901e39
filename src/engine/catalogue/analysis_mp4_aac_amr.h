// The media analysis of raw AAC files, AMR ring tones and the MP4 family
// (MP4, 3GP, M4A, and F4V files that are MP4 containers). Each fills the
// record or shows its refusal and returns a negative code.
#pragma once

#include "engine/catalogue/media_record.h"

#include <cstdint>
#include <string>

namespace kestrel {

// ADTS or ADIF AAC file (kind 8002); a file with neither header is listed
// with the defaults of a 44100 Hz stereo stream at 128000 bit/s.
int analyzeAacFile(const std::string& path, MediaRecord& rec, uint64_t size);
// AMR ring-tone file (kind 8001).
int analyzeAmrFile(const std::string& path, MediaRecord& rec, uint64_t size);
// MP4-family file through the MP4 library (kind 10000 + audio code); its type
// text is `typeText` ("MP4", "3GP" or "M4A").
int analyzeMp4File(const std::string& path, MediaRecord& rec, uint64_t size,
                   const std::string& typeText);
// True when an ".f4v" file is an MP4 container: it does not begin with the
// FLV header.
bool f4vIsMp4(const std::string& path);

} // namespace kestrel
