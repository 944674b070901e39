// English twins of the readers', the sound device's and the MPEG audio
// parser's texts (see localize.h).
#pragma once

#include "cli/localize.h"
#include "engine/containers/texts.h"
#include "engine/pipeline/texts.h"
#include "engine/pipeline/texts_avi.h"
#include "engine/pipeline/texts_device.h"
#include "engine/pipeline/texts_platform.h"

namespace kestrel::cli {

inline constexpr TextTwin kPipelineTwins[] = {
    {kestrel::text::kNotMp3File, "not an MP3 file"},
    {kestrel::text::kMp3AnalysisError, "error analysing the MP3 file"},
    {kestrel::text::kOpenSourceFailed, "cannot open %s"},
    {kestrel::text::kFreeFormatLayer3Refused,
     "%s: free-format MPEG-2/2.5 Layer III audio is not supported and cannot be decoded"},
    {kestrel::text::kAviConvertStart, "converting %s"},
    {kestrel::text::kAviConvertOpenFailed, "cannot open the file"},
    {kestrel::text::kAviConvertReaderFailed, "%s: the AVI decoder could not be set up"},
    {kestrel::text::kAviPlayOpenFailed, "cannot open %s; it may not exist"},
    {kestrel::text::kAviPlayReaderFailed, "the AVI decoder could not be set up"},
    {kestrel::text::kAviProbeFailed, "analysing %s failed"},
    {kestrel::text::device::kNone, "no sound device, or it could not be detected"},
    {kestrel::text::device::kOpenFailed, "cannot open the sound device; check it and try again"},
    {kestrel::text::kWmPlayEnded, "playback ended"},
    {kestrel::text::kSeekUnavailable, "%s cannot be played from another position"},
};

} // namespace kestrel::cli
