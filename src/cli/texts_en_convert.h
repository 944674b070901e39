// English twins of the conversion engine's texts (see localize.h).
#pragma once

#include "cli/localize.h"
#include "engine/convert/fast_texts.h"
#include "engine/convert/texts.h"

namespace kestrel::cli {

inline constexpr TextTwin kConvertTwins[] = {
    {kestrel::text::kOutputIsSource,
     "the output %s is the source itself; a source is never overwritten, "
     "the file is not converted"},
    {kestrel::text::kWavTooLarge,
     "the output %s reached the WAV limit of 4 GB; the sound after it was "
     "not written"},
    {kestrel::text::kNothingSelected, "no media file is selected"},
    {kestrel::text::kSwfUnsupported,
     "%s: the audio coding of this FLASH SWF file is not supported yet"},
    {kestrel::text::kAmrRate, "an AMR source converts only at 8000 or 11025 Hz"},
    {kestrel::text::kOutputOpenFailed, "cannot open the output %s; check the path"},
    {kestrel::text::kAviOpenFailed, "cannot open the AVI output"},
    {kestrel::text::kStartRecording, "writing %s"},
    {kestrel::text::kConvertingStatus, "converting %s into %s  [%d/%d] s"},
    {kestrel::text::kPausedRecordingStatus, "conversion paused, playing %s  [%d/%d] s"},
    {kestrel::text::kEntryDone, "%s converted"},
    {kestrel::text::kJobDone, "[%s] finished"},
    {kestrel::text::kJobDonePartly,
     "finished; some files were not converted whole; last output [%s]"},
    {kestrel::text::kJobNothingConverted, "finished; no output with sound was made"},
    {kestrel::text::kPcmChangeFailed,
     "%s: the sample rate or channels cannot be changed; the file is not "
     "converted"},
    {kestrel::text::kOutputManagerPrompt, "conversion finished"},
    {kestrel::text::kOutputWriteFailed,
     "writing the output %s failed: %s. Its conversion stopped; the "
     "file holds only what was written before"},
    {kestrel::text::kExePlayerBroken,
     "the player library orvoplay.so is incomplete; the self-playing EXE "
     "%s cannot be made"},
    {kestrel::text::kOutputFinishFailed, "the output %s was not finished properly: %s. It may be "
                                         "incomplete"},
    {kestrel::text::kOutputPlaceFailed,
     "the output %s cannot be renamed to %s: %s. What was written is "
     "kept in %s"},
    {kestrel::text::kMp3EncoderSetupFailed, "the MP3 encoder could not be set up; the output %s "
                                            "cannot be made"},
    {kestrel::text::kMp3EncodeFailed, "MP3 encoding failed; the conversion into %s stopped; the "
                                      "file holds only what was encoded before"},
    {kestrel::text::kReasonDiskFull, "the disk is full"},
    {kestrel::text::kReasonFileTooLarge, "the file is larger than the system allows"},
    {kestrel::text::kWmaInitFailed, "the WMA encoder could not be set up"},
    {kestrel::text::kWmaEncodeFailed, "WMA encoding failed"},
    {kestrel::text::kWmaVbrAsCbr,
     "WMA format value %d is a variable-bit-rate format; WMA is encoded only "
     "at a constant bit rate: format %d (%s) is used"},
    {kestrel::text::kFastNoSelection, "no media file is selected for fast conversion"},
    {kestrel::text::kFastUnsupported, "fast conversion does not take this type of file"},
    {kestrel::text::kFastStart, "fast conversion of %s started"},
    {kestrel::text::kFastProgress, "converting %s  [%d/%d] s"},
    {kestrel::text::kFastEnd, "fast conversion of %s finished"},
    {kestrel::text::kFastOpenOutputFailed, "cannot open the output %s"},
    {kestrel::text::kFastOpenSourceFailed, "cannot open %s"},
    {kestrel::text::kFastSameAsSource, "the output %s is the source itself; a source is never "
                                       "overwritten"},
    {kestrel::text::kFastWriteFailed, "writing the output %s failed"},
};

} // namespace kestrel::cli
