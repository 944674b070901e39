#include "engine/settings/settings.h"

#include "engine/settings/tables.h"
#include "engine/settings/texts.h"
#include "engine/core/captions.h"
#include "engine/core/text_format.h"
#include "platform/file_lock.h"
#include "platform/paths.h"
#include "platform/ports.h"
#include "platform/profile.h"

#include <cstdlib>
#include <cstring>

namespace kestrel {

Settings settings;
EffectiveOutputFormat outputFormat;

namespace {

// The four primitives on the one section of tavolin.ini.
int read_int(const char* k) {
    return getPrivateProfileInt(key::kSection, k, -1, settingsPath());
}
// Reads at most the field's size less one byte: a 255-byte buffer would cut a
// save path of 255 to 511 bytes, which then names no folder and falls back to
// the default at every start.
std::string read_text(const char* k, size_t fieldSize) {
    return getPrivateProfileString(key::kSection, k, "", fieldSize, settingsPath());
}
// Loading writes defaults back only where its caller lets it (the window
// does; the command line reads without writing).
bool g_loadWrites = true;
void write_int(const char* k, int v) {
    if (g_loadWrites)
        writePrivateProfileString(key::kSection, k, std::to_string(v), settingsPath());
}
void write_text(const char* k, const std::string& v) {
    writePrivateProfileString(key::kSection, k, v, settingsPath());
}
// Notes a stored value that could not be used: "key=value".
std::vector<std::string>* g_unread = nullptr;
void noteUnread(const char* k) {
    if (!g_unread || !hasPrivateProfileKey(key::kSection, k, settingsPath())) return;
    g_unread->push_back(std::string(k) + "=" +
                        getPrivateProfileString(key::kSection, k, "", 255, settingsPath()));
}

// Cuts a text to at most `maxBytes` bytes in the file's encoding, on a
// character boundary.
std::string cutToField(const std::string& utf8, size_t maxBytes) {
    std::string gb = utf8ToGb18030(utf8);
    if (gb.size() <= maxBytes) return utf8;
    return gb18030ToUtf8(cutGb18030(gb, maxBytes));
}

template <size_t N> bool inList(const int (&list)[N], int v) {
    for (int x : list)
        if (x == v) return true;
    return false;
}

std::string withoutLastCharacter(const std::string& s) {
    if (s.empty()) return s;
    size_t i = s.size() - 1;
    while (i > 0 && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80)
        --i;
    return s.substr(0, i);
}

} // namespace

int colourFromFile(int rgb) {
    int r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
    return r + g * 256 + b * 65536;
}

int colourToFile(int ref) {
    int r = ref & 0xFF, g = (ref >> 8) & 0xFF, b = (ref >> 16) & 0xFF;
    return (r << 16) | (g << 8) | b;
}

bool isLayer3Rate(int version, int kbps) {
    if (version < 0 || version > 2) return false;
    for (int i = 1; i <= 14; ++i)
        if (MPEG_BITRATES[version][2][i] == kbps) return true;
    return false;
}

int versionOfRate(int rate) {
    for (int v = 0; v < 3; ++v)
        for (int i = 0; i < 3; ++i)
            if (MPEG_SAMPLE_RATES[v][i] == rate) return v;
    return -1;
}

const char* outputExtension(int t) {
    static const char* ext[10] = {".mp3", ".exe", ".wav", ".wma", ".aac",
                                  ".aac", ".m4a", ".amr", ".flv", ".avi"};
    return (t >= 0 && t < 10) ? ext[t] : "";
}

std::string defaultSavePath() {
    return programFolder() + (programFolder() == "/" ? "" : "/");
}

namespace {

// The list checks: the value to keep, the fallback when `v` is not one of the
// values its table (or the chosen MPEG version) allows.
template <const auto& list> int oneOf(const Settings&, int v, int def) {
    return inList(list, v) ? v : def;
}
int checkMp3Cbr(const Settings& s, int v, int def) {
    return isLayer3Rate(s.mp3_version, v) ? v : def;
}
// The first rate of the version, whatever the default.
int checkMp3SampleRate(const Settings& s, int v, int) {
    const int* rates = MPEG_SAMPLE_RATES[s.mp3_version];
    return v == rates[0] || v == rates[1] || v == rates[2] ? v : rates[0];
}

using S = Settings;
using K = SettingKey::Type;

// One row per key of tavolin.ini, in the order of loading and printing.
const SettingKey kKeys[] = {
    {key::kDisplayMode, K::Int, &S::display_mode, nullptr, 0, 5, 1},
    {key::kSkinColour, K::Colour, &S::skin_colour, nullptr, 0, 16777216, 810076},
    {key::kTitleStyle, K::Int, &S::title_style, nullptr, 0, 3, 0},
    {key::kBorderStyle, K::Int, &S::border_style, nullptr, 0, 7, 0},
    {key::kWindowAlpha, K::Int, &S::window_alpha, nullptr, 120, 255, 255},
    {key::kWmaCodec, K::Int, &S::wma_codec, nullptr, 0, INT32_MAX, 0},
    {key::kWmaFormat, K::Int, &S::wma_format, nullptr, 0, INT32_MAX, 0},
    {key::kExeVariableSpeed, K::Int, &S::exe_variable_speed, nullptr, 0, 1, 1},
    {key::kExePasswordOn, K::Int, &S::exe_password_on, nullptr, 0, 1, 0},
    {key::kExePassword, K::Text, nullptr, &S::exe_password, 0, 0, 0, nullptr,
     [] { return std::string(text::kDefaultExePassword); }, kPasswordField},
    {key::kExeDescription, K::Text, nullptr, &S::exe_description, 0, 0, 0, nullptr,
     [] { return std::string(text::kDefaultExeDescription); }, kDescriptionField},
    {key::kAmrMonoMode, K::Int, &S::amr_mono_mode, nullptr, 0, 2, 0},
    {key::kAmrMode, K::Int, &S::amr_mode, nullptr, 0, 8, 0},
    {key::kAacProfile, K::Int, &S::aac_profile, nullptr, 0, 4, 1},
    {key::kAacBitRate, K::Int, &S::aac_bit_rate, nullptr, 0, INT32_MAX, 160000,
     oneOf<AAC_BIT_RATES>},
    {key::kAacQuality, K::Int, &S::aac_quality, nullptr, 0, INT32_MAX, 100, oneOf<AAC_QUALITIES>},
    {key::kAacSampleRate, K::Int, &S::aac_sample_rate, nullptr, 0, INT32_MAX, 44100,
     oneOf<AAC_SAMPLE_RATES>},
    {key::kAacChannels, K::Int, &S::aac_channels, nullptr, 1, 2, 2},
    {key::kAacMonoMode, K::Int, &S::aac_mono_mode, nullptr, 0, 2, 0},
    {key::kMp3RateMode, K::Int, &S::mp3_rate_mode, nullptr, 0, 2, 0},
    {key::kMp3VbrQuality, K::Int, &S::mp3_vbr_quality, nullptr, 0, 9, 4},
    {key::kMp3VbrMin, K::Int, &S::mp3_vbr_min_kbps, nullptr, 8, 160, 32},
    {key::kMp3VbrMax, K::Int, &S::mp3_vbr_max_kbps, nullptr, 8, 320, 128},
    {key::kMp3Abr, K::Int, &S::mp3_abr_kbps, nullptr, 80, 320, 100},
    {key::kMp3Cbr, K::Int, &S::mp3_cbr_kbps, nullptr, 8, 320, 128, checkMp3Cbr},
    {key::kMp3Version, K::Int, &S::mp3_version, nullptr, 0, 2, 0},
    {key::kMp3SampleRate, K::Int, &S::mp3_sample_rate, nullptr, 8000, 48000, 44100,
     checkMp3SampleRate},
    {key::kOutputType, K::Int, &S::output_type, nullptr, 0, 9, 1},
    {key::kSaveMode, K::Int, &S::save_mode, nullptr, 0, 1, 0},
    {key::kConversionMode, K::Int, &S::conversion_mode, nullptr, 0, 2, 0},
    {key::kMp3Channels, K::Int, &S::mp3_channels, nullptr, 1, 2, 2},
    {key::kMp3MonoMode, K::Int, &S::mp3_mono_mode, nullptr, 0, 2, 0},
    {key::kSavePath, K::Text, nullptr, &S::save_path, 0, 0, 0, nullptr, defaultSavePath,
     kPathField},
};

const SettingKey& row(const char* k) {
    for (const auto& r : kKeys)
        if (std::strcmp(r.key, k) == 0) return r;
    std::abort(); // every caller names a key of the table
}

} // namespace

std::string settingFileValue(const SettingKey& r, const Settings& s) {
    switch (r.type) {
    case K::Int:
        return std::to_string(s.*r.number);
    case K::Colour:
        return std::to_string(colourToFile(s.*r.number));
    case K::Text:
        break;
    }
    return s.*r.text;
}

namespace {

// Range check: a value outside [lo, hi] (a missing key reads as -1) gets the
// default, which is written back.
void loadRow(const SettingKey& r, Settings& s) {
    if (r.type == K::Text) {
        std::string def = r.textDefault();
        std::string v = read_text(r.key, r.fieldSize);
        if (utf8ToGb18030(v).size() >= 2) {
            s.*r.text = cutToField(v, r.fieldSize - 1);
        } else {
            s.*r.text = def;
            if (g_loadWrites) write_text(r.key, def);
        }
        return;
    }
    int v = read_int(r.key);
    if (v < r.lo || v > r.hi) {
        noteUnread(r.key);
        v = r.def;
        write_int(r.key, v);
    }
    s.*r.number = r.type == K::Colour ? colourFromFile(v) : v;
}

// Writes the rows named by `keys`, in that order.
void saveRows(std::initializer_list<const char*> keys) {
    for (const char* k : keys) {
        const SettingKey& r = row(k);
        write_text(r.key, settingFileValue(r, settings));
    }
}

} // namespace

bool saveSetting(const SettingKey& r) {
    return writePrivateProfileString(key::kSection, r.key, settingFileValue(r, settings),
                                     settingsPath());
}

std::span<const SettingKey> settingKeys() {
    return kKeys;
}

SettingsLoadReport loadSettings(bool writeBack) {
    Settings& s = settings;
    SettingsLoadReport report;
    std::vector<std::string>& unread = report.unusable;
    g_loadWrites = writeBack;
    g_unread = &unread;
    if (const char* what = notRegularFileKind(settingsPath())) {
        // Read as a missing file, never written.
        showMessage(caption::kMain, formatText(text::kSettingsNotRegular, settingsPath(), what));
        g_loadWrites = false;
    }
    for (const auto& r : kKeys)
        loadRow(r, s);
    for (const auto& r : kKeys) {
        if (!r.listCheck) continue;
        int v = r.listCheck(s, s.*r.number, r.def);
        if (v != s.*r.number) {
            noteUnread(r.key);
            s.*r.number = v;
            write_int(r.key, v);
        }
    }
    // The save path must name a folder that exists.
    if (!fileExists(withoutLastCharacter(s.save_path))) {
        s.save_path = defaultSavePath();
        if (g_loadWrites) write_text(key::kSavePath, s.save_path);
    }
    g_loadWrites = true;
    g_unread = nullptr;
    for (const auto& r : kKeys)
        report.keysFound += hasPrivateProfileKey(key::kSection, r.key, settingsPath()) ? 1 : 0;
    return report;
}

EffectiveOutputFormat deriveOutputFormat(const Settings& s, const EffectiveOutputFormat& prev) {
    EffectiveOutputFormat f = prev;
    switch (s.output_type) {
    case kOutAmr:
        f.out_rate = 8000;
        f.out_channels = 1;
        f.channel_pick = s.amr_mono_mode;
        break;
    case kOutMp3:
    case kOutExe:
    case kOutWav:
    case kOutWma:
        f.out_rate = s.mp3_sample_rate;
        f.out_channels = s.mp3_channels;
        f.channel_pick = s.mp3_mono_mode;
        f.out_version = s.mp3_version;
        break;
    case kOutFlv:
    case kOutAvi: {
        int r = s.mp3_sample_rate;
        if (r != 44100 && r != 22050 && r != 11025) r = 22050;
        f.out_rate = r;
        f.out_channels = s.mp3_channels;
        f.channel_pick = s.mp3_mono_mode;
        f.out_version = r == 44100 ? 0 : r == 22050 ? 1 : 2;
        break;
    }
    case kOutRawAac:
    case kOutAdts:
    case kOutM4a:
        f.out_rate = s.aac_sample_rate;
        f.out_channels = s.aac_channels;
        f.channel_pick = s.aac_mono_mode;
        break;
    default:
        break;
    }
    return f;
}

void derive_output_format() {
    outputFormat = deriveOutputFormat(settings, outputFormat);
}

void saveMp3PageSettings() {
    saveRows({key::kMp3RateMode, key::kMp3VbrQuality, key::kMp3VbrMin, key::kMp3VbrMax,
              key::kMp3Abr, key::kMp3Cbr, key::kMp3Version, key::kMp3SampleRate, key::kOutputType,
              key::kSaveMode, key::kConversionMode, key::kMp3Channels, key::kMp3MonoMode,
              key::kSavePath});
}

void saveWmaExePageSettings() {
    saveRows({key::kWmaCodec, key::kWmaFormat, key::kExeVariableSpeed, key::kExePasswordOn,
              key::kExePassword, key::kExeDescription});
}

void saveAacAmrPageSettings() {
    saveRows({key::kAacProfile, key::kAacQuality, key::kAacBitRate, key::kAacSampleRate,
              key::kAacChannels, key::kAacMonoMode, key::kAmrMode, key::kAmrMonoMode});
}

void save_page_settings() {
    saveMp3PageSettings();
    saveWmaExePageSettings();
    saveAacAmrPageSettings();
}

void advanceDisplayMode() {
    settings.display_mode = settings.display_mode == 4 ? 1 : settings.display_mode + 1;
    saveRows({key::kDisplayMode});
}

void saveSkinSettings() {
    saveRows({key::kTitleStyle, key::kBorderStyle, key::kSkinColour, key::kWindowAlpha});
}

std::vector<SettingLine> settingLines(const Settings& s, const EffectiveOutputFormat& f) {
    std::vector<SettingLine> lines;
    for (const auto& r : kKeys)
        lines.push_back({r.key, settingFileValue(r, s)});
    lines.push_back({"out_rate", std::to_string(f.out_rate)});
    lines.push_back({"out_channels", std::to_string(f.out_channels)});
    lines.push_back({"channel_pick", std::to_string(f.channel_pick)});
    lines.push_back({"out_version", std::to_string(f.out_version)});
    return lines;
}

} // namespace kestrel
