#include "engine/settings/settings.h"

#include "engine/settings/tables.h"
#include "engine/settings/texts.h"
#include "platform/paths.h"
#include "platform/profile.h"

#include <functional>

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
void write_int(const char* k, int v) {
    writePrivateProfileString(key::kSection, k, std::to_string(v), settingsPath());
}
void write_text(const char* k, const std::string& v) {
    writePrivateProfileString(key::kSection, k, v, settingsPath());
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

void loadInt(const char* k, int& field, int lo, int hi, int def, int fileDefault) {
    int v = read_int(k);
    if (v < lo || v > hi) {
        field = def;
        write_int(k, fileDefault);
    } else {
        field = v;
    }
}

void loadInt(const char* k, int& field, int lo, int hi, int def) {
    loadInt(k, field, lo, hi, def, def);
}

void loadText(const char* k, std::string& field, const std::string& def, size_t fieldSize) {
    field = def;
    std::string v = read_text(k, fieldSize);
    if (utf8ToGb18030(v).size() >= 2) {
        field = cutToField(v, fieldSize - 1);
    } else {
        write_text(k, def);
    }
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

void loadSettings() {
    Settings& s = settings;
    loadInt(key::kDisplayMode, s.display_mode, 0, 5, 1);
    {
        int v = read_int(key::kSkinColour);
        if (v < 0 || v > 16777216) {
            s.skin_colour = colourFromFile(810076);
            write_int(key::kSkinColour, 810076);
        } else {
            s.skin_colour = colourFromFile(v);
        }
    }
    loadInt(key::kTitleStyle, s.title_style, 0, 3, 0);
    loadInt(key::kBorderStyle, s.border_style, 0, 7, 0);
    loadInt(key::kWindowAlpha, s.window_alpha, 120, 255, 255);
    loadInt(key::kWmaCodec, s.wma_codec, 0, INT32_MAX, 0);
    loadInt(key::kWmaFormat, s.wma_format, 0, INT32_MAX, 0);
    loadInt(key::kExeVariableSpeed, s.exe_variable_speed, 0, 1, 1);
    loadInt(key::kExePasswordOn, s.exe_password_on, 0, 1, 0);
    loadText(key::kExePassword, s.exe_password, text::kDefaultExePassword, kPasswordField);
    loadText(key::kExeDescription, s.exe_description, text::kDefaultExeDescription,
             kDescriptionField);
    loadInt(key::kAmrMonoMode, s.amr_mono_mode, 0, 2, 0);
    loadInt(key::kAmrMode, s.amr_mode, 0, 8, 0);
    loadInt(key::kAacProfile, s.aac_profile, 0, 4, 1);
    loadInt(key::kAacBitRate, s.aac_bit_rate, 0, INT32_MAX, 160000);
    loadInt(key::kAacQuality, s.aac_quality, 0, INT32_MAX, 100);
    loadInt(key::kAacSampleRate, s.aac_sample_rate, 0, INT32_MAX, 44100);
    loadInt(key::kAacChannels, s.aac_channels, 1, 2, 2);
    loadInt(key::kAacMonoMode, s.aac_mono_mode, 0, 2, 0);
    if (!inList(AAC_SAMPLE_RATES, s.aac_sample_rate)) {
        s.aac_sample_rate = 44100;
        write_int(key::kAacSampleRate, 44100);
    }
    if (!inList(AAC_QUALITIES, s.aac_quality)) {
        s.aac_quality = 100;
        write_int(key::kAacQuality, 100);
    }
    if (!inList(AAC_BIT_RATES, s.aac_bit_rate)) {
        s.aac_bit_rate = 160000;
        write_int(key::kAacBitRate, 160000);
    }
    loadInt(key::kMp3RateMode, s.mp3_rate_mode, 0, 2, 0);
    loadInt(key::kMp3VbrQuality, s.mp3_vbr_quality, 0, 9, 4);
    loadInt(key::kMp3VbrMin, s.mp3_vbr_min_kbps, 8, 160, 32);
    loadInt(key::kMp3VbrMax, s.mp3_vbr_max_kbps, 8, 320, 128);
    loadInt(key::kMp3Abr, s.mp3_abr_kbps, 80, 320, 100);
    loadInt(key::kMp3Cbr, s.mp3_cbr_kbps, 8, 320, 128);
    loadInt(key::kMp3Version, s.mp3_version, 0, 2, 0);
    loadInt(key::kMp3SampleRate, s.mp3_sample_rate, 8000, 48000, 44100);
    loadInt(key::kOutputType, s.output_type, 0, 9, 1);
    loadInt(key::kSaveMode, s.save_mode, 0, 1, 0);
    loadInt(key::kConversionMode, s.conversion_mode, 0, 2, 0);
    loadInt(key::kMp3Channels, s.mp3_channels, 1, 2, 2);
    loadInt(key::kMp3MonoMode, s.mp3_mono_mode, 0, 2, 0);
    if (!isLayer3Rate(s.mp3_version, s.mp3_cbr_kbps)) {
        s.mp3_cbr_kbps = 128;
        write_int(key::kMp3Cbr, 128);
    }
    {
        const int* rates = MPEG_SAMPLE_RATES[s.mp3_version];
        if (s.mp3_sample_rate != rates[0] && s.mp3_sample_rate != rates[1] &&
            s.mp3_sample_rate != rates[2]) {
            s.mp3_sample_rate = rates[0];
            write_int(key::kMp3SampleRate, rates[0]);
        }
    }
    std::string def = defaultSavePath();
    loadText(key::kSavePath, s.save_path, def, kPathField);
    if (!fileExists(withoutLastCharacter(s.save_path))) {
        s.save_path = def;
        write_text(key::kSavePath, def);
    }
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
    const Settings& s = settings;
    write_int(key::kMp3RateMode, s.mp3_rate_mode);
    write_int(key::kMp3VbrQuality, s.mp3_vbr_quality);
    write_int(key::kMp3VbrMin, s.mp3_vbr_min_kbps);
    write_int(key::kMp3VbrMax, s.mp3_vbr_max_kbps);
    write_int(key::kMp3Abr, s.mp3_abr_kbps);
    write_int(key::kMp3Cbr, s.mp3_cbr_kbps);
    write_int(key::kMp3Version, s.mp3_version);
    write_int(key::kMp3SampleRate, s.mp3_sample_rate);
    write_int(key::kOutputType, s.output_type);
    write_int(key::kSaveMode, s.save_mode);
    write_int(key::kConversionMode, s.conversion_mode);
    write_int(key::kMp3Channels, s.mp3_channels);
    write_int(key::kMp3MonoMode, s.mp3_mono_mode);
    write_text(key::kSavePath, s.save_path);
}

void saveWmaExePageSettings() {
    const Settings& s = settings;
    write_int(key::kWmaCodec, s.wma_codec);
    write_int(key::kWmaFormat, s.wma_format);
    write_int(key::kExeVariableSpeed, s.exe_variable_speed);
    write_int(key::kExePasswordOn, s.exe_password_on);
    write_text(key::kExePassword, s.exe_password);
    write_text(key::kExeDescription, s.exe_description);
}

void saveAacAmrPageSettings() {
    const Settings& s = settings;
    write_int(key::kAacProfile, s.aac_profile);
    write_int(key::kAacQuality, s.aac_quality);
    write_int(key::kAacBitRate, s.aac_bit_rate);
    write_int(key::kAacSampleRate, s.aac_sample_rate);
    write_int(key::kAacChannels, s.aac_channels);
    write_int(key::kAacMonoMode, s.aac_mono_mode);
    write_int(key::kAmrMode, s.amr_mode);
    write_int(key::kAmrMonoMode, s.amr_mono_mode);
}

void save_page_settings() {
    saveMp3PageSettings();
    saveWmaExePageSettings();
    saveAacAmrPageSettings();
}

void advanceDisplayMode() {
    settings.display_mode = settings.display_mode == 4 ? 1 : settings.display_mode + 1;
    write_int(key::kDisplayMode, settings.display_mode);
}

void saveSkinSettings() {
    write_int(key::kTitleStyle, settings.title_style);
    write_int(key::kBorderStyle, settings.border_style);
    write_int(key::kSkinColour, colourToFile(settings.skin_colour));
    write_int(key::kWindowAlpha, settings.window_alpha);
}

std::vector<SettingLine> settingLines(const Settings& s) {
    auto n = [](int v) { return std::to_string(v); };
    return {
        {key::kDisplayMode, n(s.display_mode)},
        {key::kSkinColour, n(colourToFile(s.skin_colour))},
        {key::kTitleStyle, n(s.title_style)},
        {key::kBorderStyle, n(s.border_style)},
        {key::kWindowAlpha, n(s.window_alpha)},
        {key::kWmaCodec, n(s.wma_codec)},
        {key::kWmaFormat, n(s.wma_format)},
        {key::kExeVariableSpeed, n(s.exe_variable_speed)},
        {key::kExePasswordOn, n(s.exe_password_on)},
        {key::kExePassword, s.exe_password},
        {key::kExeDescription, s.exe_description},
        {key::kAmrMonoMode, n(s.amr_mono_mode)},
        {key::kAmrMode, n(s.amr_mode)},
        {key::kAacProfile, n(s.aac_profile)},
        {key::kAacBitRate, n(s.aac_bit_rate)},
        {key::kAacQuality, n(s.aac_quality)},
        {key::kAacSampleRate, n(s.aac_sample_rate)},
        {key::kAacChannels, n(s.aac_channels)},
        {key::kAacMonoMode, n(s.aac_mono_mode)},
        {key::kMp3RateMode, n(s.mp3_rate_mode)},
        {key::kMp3VbrQuality, n(s.mp3_vbr_quality)},
        {key::kMp3VbrMin, n(s.mp3_vbr_min_kbps)},
        {key::kMp3VbrMax, n(s.mp3_vbr_max_kbps)},
        {key::kMp3Abr, n(s.mp3_abr_kbps)},
        {key::kMp3Cbr, n(s.mp3_cbr_kbps)},
        {key::kMp3Version, n(s.mp3_version)},
        {key::kMp3SampleRate, n(s.mp3_sample_rate)},
        {key::kOutputType, n(s.output_type)},
        {key::kSaveMode, n(s.save_mode)},
        {key::kConversionMode, n(s.conversion_mode)},
        {key::kMp3Channels, n(s.mp3_channels)},
        {key::kMp3MonoMode, n(s.mp3_mono_mode)},
        {key::kSavePath, s.save_path},
    };
}

} // namespace kestrel
