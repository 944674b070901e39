#include "engine/settings/setting_names.h"

#include "engine/settings/output_types.h"
#include "engine/settings/texts.h"
#include "platform/paths.h"
#include "platform/profile.h"

#include <climits>
#include <cstdio>
#include <cstring>

namespace kestrel {

namespace {

struct KeyName {
    const char* key;
    const char* alias;
    // The names of the values 0, 1, 2 ... (null-terminated list); null when
    // the values have no names.
    const char* const* valueNames;
};

constexpr const char* kMono[] = {"mix", "left", "right", nullptr};
constexpr const char* kNoYes[] = {"off", "on", nullptr};
constexpr const char* kAmrModes[] = {"MR475 4.75 kbit/s", "MR515 5.15 kbit/s", "MR59 5.9 kbit/s",
                                     "MR67 6.7 kbit/s",   "MR74 7.4 kbit/s",   "MR795 7.95 kbit/s",
                                     "MR102 10.2 kbit/s", "MR122 12.2 kbit/s", nullptr};
constexpr const char* kAacProfiles[] = {"LC", "Main", "SSR", "LTP", nullptr};
constexpr const char* kRateModes[] = {"cbr", "vbr", "abr", nullptr};
constexpr const char* kVersions[] = {"MPEG-1", "MPEG-2", "MPEG-2.5", nullptr};
constexpr const char* kSaveModes[] = {"separate", "join", nullptr};
constexpr const char* kConversionModes[] = {"realtime", "double", "silent", nullptr};
constexpr const char* kOutputTypes[] = {"mp3", "exe", "wav", "wma", "aac",  "adts",
                                        "m4a", "amr", "flv", "avi", nullptr};

const KeyName kNames[] = {
    {key::kDisplayMode, "display_mode", nullptr},
    {key::kSkinColour, "skin_colour", nullptr},
    {key::kTitleStyle, "title_style", nullptr},
    {key::kBorderStyle, "border_style", nullptr},
    {key::kWindowAlpha, "window_alpha", nullptr},
    {key::kWmaCodec, "wma_codec", nullptr},
    {key::kWmaFormat, "wma_format", nullptr},
    {key::kExeVariableSpeed, "exe_variable_speed", kNoYes},
    {key::kExePasswordOn, "exe_password_on", kNoYes},
    {key::kExePassword, "exe_password", nullptr},
    {key::kExeDescription, "exe_description", nullptr},
    {key::kAmrMonoMode, "amr_mono_mode", kMono},
    {key::kAmrMode, "amr_mode", kAmrModes},
    {key::kAacProfile, "aac_profile", kAacProfiles},
    {key::kAacBitRate, "aac_bit_rate", nullptr},
    {key::kAacQuality, "aac_quality", nullptr},
    {key::kAacSampleRate, "aac_sample_rate", nullptr},
    {key::kAacChannels, "aac_channels", nullptr},
    {key::kAacMonoMode, "aac_mono_mode", kMono},
    {key::kMp3RateMode, "mp3_rate_mode", kRateModes},
    {key::kMp3VbrQuality, "mp3_vbr_quality", nullptr},
    {key::kMp3VbrMin, "mp3_vbr_min_kbps", nullptr},
    {key::kMp3VbrMax, "mp3_vbr_max_kbps", nullptr},
    {key::kMp3Abr, "mp3_abr_kbps", nullptr},
    {key::kMp3Cbr, "mp3_cbr_kbps", nullptr},
    {key::kMp3Version, "mp3_version", kVersions},
    {key::kMp3SampleRate, "mp3_sample_rate", nullptr},
    {key::kOutputType, "output_type", kOutputTypes},
    {key::kSaveMode, "save_mode", kSaveModes},
    {key::kConversionMode, "conversion_mode", kConversionModes},
    {key::kMp3Channels, "mp3_channels", nullptr},
    {key::kMp3MonoMode, "mp3_mono_mode", kMono},
    {key::kSavePath, "save_path", nullptr},
};

const KeyName* nameOf(const SettingKey& k) {
    for (const auto& n : kNames)
        if (std::strcmp(n.key, k.key) == 0) return &n;
    return nullptr;
}

bool parseInt(const std::string& text, int& out) {
    if (text.empty() || text.size() > 12) return false;
    size_t i = text[0] == '-' || text[0] == '+' ? 1 : 0;
    if (i == text.size()) return false;
    long long v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + (text[i] - '0');
    }
    if (text[0] == '-') v = -v;
    if (v < INT_MIN || v > INT_MAX) return false;
    out = static_cast<int>(v);
    return true;
}

// The file's colour text "#RRGGBB" (or "0xRRGGBB") as the file's number.
bool parseColour(const std::string& text, int& out) {
    size_t at = text.rfind('#', 0) == 0 ? 1 : text.rfind("0x", 0) == 0 ? 2 : 0;
    if (at == 0 || text.size() != at + 6) return false;
    int v = 0;
    for (size_t i = at; i < text.size(); ++i) {
        char c = text[i];
        int d = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : -1;
        if (d < 0) return false;
        v = v * 16 + d;
    }
    out = v;
    return true;
}

std::string rangeText(const SettingKey& k) {
    if (k.hi == INT32_MAX) return std::to_string(k.lo) + " or more";
    return std::to_string(k.lo) + ".." + std::to_string(k.hi);
}

// The values the key's list check keeps in `s`, found by asking the check
// itself, so that the list has one home.
std::string allowedValues(const SettingKey& k, const Settings& s) {
    std::string out;
    const int top = k.hi < (1 << 20) ? k.hi : (1 << 20);
    for (int v = k.lo; v <= top; ++v) {
        // A value the check keeps as it is, told apart from its fallback by
        // checking with two different fallbacks.
        if (k.listCheck(s, v, v + 1) == v && k.listCheck(s, v, v - 1) == v)
            out += (out.empty() ? "" : " ") + std::to_string(v);
    }
    return out;
}

std::string withoutLastCharacter(const std::string& s) {
    if (s.empty()) return s;
    size_t i = s.size() - 1;
    while (i > 0 && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80)
        --i;
    return s.substr(0, i);
}

} // namespace

const char* settingAlias(const SettingKey& k) {
    const KeyName* n = nameOf(k);
    return n ? n->alias : "";
}

const SettingKey* findSettingKey(const std::string& name) {
    for (const auto& k : settingKeys())
        if (name == k.key || name == settingAlias(k)) return &k;
    return nullptr;
}

std::string settingMeaning(const SettingKey& k, int v) {
    if (k.type == SettingKey::Type::Colour) {
        char b[16];
        std::snprintf(b, sizeof b, "#%06X", static_cast<unsigned>(v) & 0xFFFFFFu);
        return b;
    }
    const KeyName* n = nameOf(k);
    if (!n || !n->valueNames || v < 0) return "";
    for (int i = 0; n->valueNames[i]; ++i)
        if (i == v) return n->valueNames[i];
    return "";
}

bool changeSetting(Settings& s, const SettingKey& k, const std::string& value,
                   SettingChange& result) {
    result = {};
    Settings trial = s;
    if (k.type == SettingKey::Type::Text) {
        std::string v = value;
        if (&k == findSettingKey(key::kSavePath) && !v.empty() && v.back() != '/') v += '/';
        size_t bytes = utf8ToGb18030(v).size();
        if (bytes < 2) {
            result.problem = "needs at least 2 bytes";
            return false;
        }
        if (bytes > k.fieldSize - 1) {
            result.problem = "longer than " + std::to_string(k.fieldSize - 1) + " bytes";
            return false;
        }
        if (&k == findSettingKey(key::kSavePath) && !fileExists(withoutLastCharacter(v))) {
            result.problem = "no such folder";
            return false;
        }
        trial.*k.text = v;
    } else {
        int v = 0;
        bool named = false;
        if (const KeyName* n = nameOf(k); n && n->valueNames) {
            for (int i = 0; n->valueNames[i]; ++i)
                if (value == n->valueNames[i]) {
                    v = i;
                    named = true;
                }
        }
        if (!named && !parseInt(value, v) &&
            !(k.type == SettingKey::Type::Colour && parseColour(value, v))) {
            result.problem = "not a number";
            return false;
        }
        if (v < k.lo || v > k.hi) {
            result.problem = "out of range " + rangeText(k);
            return false;
        }
        trial.*k.number = k.type == SettingKey::Type::Colour ? colourFromFile(v) : v;
        if (k.listCheck && k.listCheck(trial, v, v + 1) != v) {
            result.problem = "not one of " + allowedValues(k, trial);
            return false;
        }
    }
    // What loading would change next because of the new value.
    for (const auto& r : settingKeys()) {
        if (!r.listCheck || &r == &k) continue;
        trial.*r.number = r.listCheck(trial, trial.*r.number, r.def);
    }
    for (const auto& r : settingKeys())
        if (settingFileValue(r, trial) != settingFileValue(r, s)) result.changed.push_back(&r);
    s = trial;
    return true;
}

} // namespace kestrel
