// A media record in human terms: what its kind code means, the container and
// the codec of its sound, and its playing time with decimals.
#pragma once

#include "engine/catalogue/media_record.h"

#include <string>

namespace kestrel {

struct RecordDescription {
    std::string kindName;  // "MPEG audio", "MPEG program stream with AC-3 audio", ...
    std::string container; // "MPEG-1/2 program stream", "MPEG audio", "AVI", ...
    std::string codec;     // "MPEG-1 Layer III", "AC-3", ...; "" when the record does not say
    double seconds = 0;    // playing time; see describeRecord
    bool secondsFromFrames = false; // counted from the MPEG audio frames
};

// The name of a kind code ("MPEG transport stream", "FLV, MP3 sound", ...).
// The FLV and SWF codes overlap (8020-8025): the record's type text "SWF"
// names an SWF sound, any other an FLV one.
std::string mediaKindName(int32_t kindCode, const std::string& typeName = "");

// Describes the record of the file at rec.path. An MPEG audio file's playing
// time is counted from its frames (the Xing/Info tag frame left out); any
// other file's is the record's whole seconds, as the container told them.
RecordDescription describeRecord(const MediaRecord& rec);

// The playing time of an MPEG audio file counted frame by frame from its
// first confirmed frame; -1 when the file holds no MPEG audio. `codec` gets
// "MPEG-1 Layer III" and the like.
double mpegAudioSeconds(const std::string& path, std::string* codec = nullptr);

} // namespace kestrel
