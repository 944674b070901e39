// Media analysis: decides what kind of media file a path names and fills a
// media record with its audio properties, first by the file-name extension and
// then by the stream probe. Refusals show one message and return a negative
// code: -1 cannot open / no audio / not of the claimed type, -2 analysis
// error or undetermined type, -3 FLV header or 8-bit FLV audio, -4 MPEG-4
// AVI without audio or with bad properties, -8 MPEG without audio. A path
// that names no readable regular file with data (a folder, a FIFO, a device,
// an empty file) is refused with -1 before anything opens it.
#pragma once

#include "engine/catalogue/media_record.h"

#include <string>

namespace kestrel {

int analyzeMedia(const std::string& path, MediaRecord& rec);

} // namespace kestrel
