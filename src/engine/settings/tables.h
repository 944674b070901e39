// Fixed value tables of the MPEG audio and AAC settings.
#pragma once

#include "engine/core/mpeg_audio_header.h"

namespace kestrel {

// MPEG_BITRATES and MPEG_SAMPLE_RATES are the standard's tables of the MPEG
// audio header module.

inline constexpr int AAC_SAMPLE_RATES[12] = {8000,  11025, 12000, 16000, 22050, 24000,
                                             32000, 44100, 48000, 64000, 88200, 96000};
inline constexpr int AAC_BIT_RATES[9] = {64000,  80000,  96000,  112000, 128000,
                                         160000, 192000, 224000, 256000};
inline constexpr int AAC_QUALITIES[19] = {10,  20,  30,  40,  50,  60,  70,  80,  90, 100,
                                          110, 120, 130, 140, 150, 200, 300, 400, 500};

} // namespace kestrel
