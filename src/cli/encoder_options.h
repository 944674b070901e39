// The convert options of the AAC, AMR and WMA encoders: --aac-rate,
// --aac-profile, --amr-mode, --wma-codec and --wma-format, and what -r and
// --mono mean for the AAC and AMR types, which keep settings of their own.
#pragma once

#include "engine/settings/overrides.h"
#include "engine/settings/settings.h"

#include <optional>
#include <string>

namespace kestrel::cli {

struct EncoderOptions {
    std::optional<int> aacBitRate; // bit/s, one of AAC_BIT_RATES
    std::optional<int> aacProfile; // 0 lc, 1 main, 2 ssr, 3 ltp
    std::optional<int> amrMode;    // 0..7
    std::optional<int> wmaCodec;   // a codec position of the WMA table
    std::optional<int> wmaFormat;  // a format value of the codec
};

// Takes the option `name` with its `value` into `o`. Returns 1 when `name` is
// one of these options and its value is good, 0 when it is none of them, -1
// when the value is wrong (`problem` says why).
int parseEncoderOption(const std::string& name, const std::string& value, EncoderOptions& o,
                       std::string& problem);
// True when `name` is one of these options.
bool isEncoderOption(const std::string& name);

// Applies the options to `s` for output type `type`; for the AAC types -r and
// --mono (in `general`) set the AAC rate and channels, for AMR --mono sets its
// channel pick. Returns an empty text, or the problem (a WMA format the codec
// does not have, a rate AAC does not take).
std::string applyEncoderOptions(Settings& s, int type, const EncoderOptions& o,
                                const SettingsOverrides& general);

} // namespace kestrel::cli
