// Settings changed for one run, checked as the format pages check what they
// store: the output type, save and conversion modes, the MP3 page's rate,
// bit-rate mode and bit rates, its channels and the save path. A field left
// empty keeps the loaded setting.
#pragma once

#include "engine/settings/settings.h"

#include <optional>
#include <string>

namespace kestrel {

struct SettingsOverrides {
    std::optional<int> outputType;     // 0..9
    std::optional<int> saveMode;       // 0 one output per entry, 1 joined
    std::optional<int> conversionMode; // 0 real time, 1 double speed, 2 silent
    std::optional<int> sampleRate;     // an MPEG audio rate; also picks the MPEG version
    std::optional<int> cbrKbps;        // constant bit rate: a Layer III rate of the version
    std::optional<int> vbrQuality;     // variable bit rate: quality 0..9
    std::optional<int> vbrMinKbps;     // 8..160, with vbrQuality only
    std::optional<int> vbrMaxKbps;     // 8..320, with vbrQuality only
    std::optional<int> abrKbps;        // average bit rate 80..320
    std::optional<int> monoMode;       // mono output: 0 mix, 1 left, 2 right
    std::string savePath;              // output folder
};

// What is wrong with a set of overrides; None when it can be applied.
enum class OverrideProblem {
    None,
    OutputType,       // not an output type
    SaveMode,         // not 0 or 1
    ConversionMode,   // not 0..2
    SampleRate,       // not a rate of any MPEG version
    VbrQuality,       // outside 0..9
    VbrMin,           // outside 8..160
    VbrMax,           // outside 8..320
    Abr,              // outside 80..320
    MonoMode,         // not 0..2
    RateModes,        // more than one of constant, variable and average bit rate
    MinMaxWithoutVbr, // a VBR bound without a VBR quality
    CbrNotLayer3,     // the bit rate is not a Layer III rate of the chosen version
};

// Checks the overrides on their own (everything but the bit rate's fit to the
// version, which needs the settings).
OverrideProblem checkOverrides(const SettingsOverrides& o);

// Checks the overrides and applies them to `s`. A loaded constant bit rate
// that the chosen version does not have becomes that version's usual rate
// (128 kbit/s for MPEG-1, 64 for the others). On a problem `s` is unchanged.
OverrideProblem applyOverrides(Settings& s, const SettingsOverrides& o);

} // namespace kestrel
