#include "cli/encoder_options.h"

#include "engine/settings/tables.h"
#include "platform/wm_writer.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>

namespace kestrel::cli {

namespace {

bool parseNumber(const std::string& s, int& out) {
    char* end = nullptr;
    long v = std::strtol(s.c_str(), &end, 10);
    if (s.empty() || *end != '\0' || v < 0 || v > 1000000000) return false;
    out = static_cast<int>(v);
    return true;
}

std::string aacRates() {
    std::string t;
    for (int r : AAC_BIT_RATES) {
        if (!t.empty()) t += ' ';
        t += std::to_string(r);
    }
    return t;
}

constexpr const char* kAacProfiles[4] = {"lc", "main", "ssr", "ltp"};

} // namespace

bool isEncoderOption(const std::string& n) {
    return n == "--aac-rate" || n == "--aac-profile" || n == "--amr-mode" || n == "--wma-codec" ||
           n == "--wma-format";
}

int parseEncoderOption(const std::string& name, const std::string& value, EncoderOptions& o,
                       std::string& problem) {
    int n = 0;
    if (name == "--aac-rate") {
        if (!parseNumber(value, n) || std::find(std::begin(AAC_BIT_RATES), std::end(AAC_BIT_RATES),
                                                n) == std::end(AAC_BIT_RATES)) {
            problem = "--aac-rate needs one of " + aacRates() + " bit/s";
            return -1;
        }
        o.aacBitRate = n;
    } else if (name == "--aac-profile") {
        auto it = std::find_if(std::begin(kAacProfiles), std::end(kAacProfiles),
                               [&](const char* p) { return value == p; });
        if (it == std::end(kAacProfiles)) {
            problem = "--aac-profile needs lc, main, ssr or ltp";
            return -1;
        }
        o.aacProfile = static_cast<int>(it - std::begin(kAacProfiles));
    } else if (name == "--amr-mode") {
        if (!parseNumber(value, n) || n > 7) {
            problem = "--amr-mode needs 0..7 (4.75 ... 12.2 kbit/s)";
            return -1;
        }
        o.amrMode = n;
    } else if (name == "--wma-codec") {
        if (!parseNumber(value, n) || n >= static_cast<int>(wmaCodecs().size())) {
            problem = "--wma-codec needs 0.." + std::to_string(wmaCodecs().size() - 1) +
                      " ('kestrel-cli formats wma' lists them)";
            return -1;
        }
        o.wmaCodec = n;
    } else if (name == "--wma-format") {
        if (!parseNumber(value, n)) {
            problem = "--wma-format needs a format value ('kestrel-cli formats wma' lists them)";
            return -1;
        }
        o.wmaFormat = n;
    } else {
        return 0;
    }
    return 1;
}

std::string applyEncoderOptions(Settings& s, int type, const EncoderOptions& o,
                                const SettingsOverrides& general) {
    if (o.aacBitRate) s.aac_bit_rate = *o.aacBitRate;
    if (o.aacProfile) s.aac_profile = *o.aacProfile;
    if (o.amrMode) s.amr_mode = *o.amrMode;
    if (o.wmaCodec) s.wma_codec = *o.wmaCodec;
    if (o.wmaFormat) s.wma_format = *o.wmaFormat;
    if ((o.wmaCodec || o.wmaFormat) && !wmaFormatOf(s.wma_codec, s.wma_format))
        return "--wma-format " + std::to_string(s.wma_format) + " is not a format of WMA codec " +
               std::to_string(s.wma_codec) + " ('kestrel-cli formats wma' lists them)";
    const bool aac = type == kOutRawAac || type == kOutAdts || type == kOutM4a;
    if (aac && general.sampleRate) {
        if (std::find(std::begin(AAC_SAMPLE_RATES), std::end(AAC_SAMPLE_RATES),
                      *general.sampleRate) == std::end(AAC_SAMPLE_RATES))
            return "-r " + std::to_string(*general.sampleRate) + " is not an AAC rate";
        s.aac_sample_rate = *general.sampleRate;
    }
    if (aac && general.monoMode) {
        s.aac_channels = 1;
        s.aac_mono_mode = *general.monoMode;
    }
    if (type == kOutAmr && general.monoMode) s.amr_mono_mode = *general.monoMode;
    return std::string();
}

} // namespace kestrel::cli
