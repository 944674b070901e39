// The settings store: one process-wide `Settings` record loaded once from
// tavolin.ini (checking every value and writing back defaults), and the derived
// `EffectiveOutputFormat` that playback, the PCM stage and the encoders read.
//
// Threading: only the user-interface thread (or the CLI's main thread) writes
// settings and the file; workers read them after the start commands derived
// the output format, and the start commands refuse while a worker runs.
#pragma once

#include <span>
#include <string>
#include <vector>

namespace kestrel {

enum OutputType : int {
    kOutMp3 = 0,
    kOutExe = 1,
    kOutWav = 2,
    kOutWma = 3,
    kOutRawAac = 4,
    kOutAdts = 5,
    kOutM4a = 6,
    kOutAmr = 7,
    kOutFlv = 8,
    kOutAvi = 9,
};

struct Settings {
    int display_mode = 1;
    int skin_colour = 0x5C5C0C; // Windows colour reference 0x00BBGGRR
    int title_style = 0;
    int border_style = 0;
    int window_alpha = 255;
    int wma_codec = 0;
    int wma_format = 0;
    int exe_variable_speed = 1;
    int exe_password_on = 0;
    std::string exe_password = "573921";                          // 16-byte field
    std::string exe_description = "岚石 岚石多媒体MP3转换器制作"; // 256-byte field
    int amr_mono_mode = 0;
    int amr_mode = 0;
    int aac_profile = 1;
    int aac_bit_rate = 160000;
    int aac_quality = 100;
    int aac_sample_rate = 44100;
    int aac_channels = 2;
    int aac_mono_mode = 0;
    int mp3_rate_mode = 0;
    int mp3_vbr_quality = 4;
    int mp3_vbr_min_kbps = 32;
    int mp3_vbr_max_kbps = 128;
    int mp3_abr_kbps = 100;
    int mp3_cbr_kbps = 128;
    int mp3_version = 0;
    int mp3_sample_rate = 44100;
    int output_type = 1;
    int save_mode = 0;
    int conversion_mode = 0;
    int mp3_channels = 2;
    int mp3_mono_mode = 0;
    std::string save_path; // 512-byte field; ends with "/" by default
};

struct EffectiveOutputFormat {
    int out_rate = 44100;
    int out_channels = 2;
    int channel_pick = 0;
    int out_version = 0;
};

extern Settings settings;
extern EffectiveOutputFormat outputFormat;

inline constexpr size_t kPathField = 512;
inline constexpr size_t kPasswordField = 16;
inline constexpr size_t kDescriptionField = 256;

// Fills `settings` from the file (programFolder()/tavolin.ini) and, with
// `writeBack`, writes back the default of every key that is missing or out of
// range. Reports the stored values that could not be used ("key=value") and
// how many keys the file held, for callers that name them. A settings file
// name that leads to anything but a regular file is refused with a message:
// every key takes its default and nothing is written.
struct SettingsLoadReport {
    std::vector<std::string> unusable;
    int keysFound = 0;
};
SettingsLoadReport loadSettings(bool writeBack = true);

// The default save path: the program folder with a trailing "/".
std::string defaultSavePath();

// Recomputes `outputFormat` from `settings`.
void derive_output_format();
EffectiveOutputFormat deriveOutputFormat(const Settings& s, const EffectiveOutputFormat& previous);

// Writes the keys of each format page, in the page's order.
void saveMp3PageSettings();
void saveWmaExePageSettings();
void saveAacAmrPageSettings();
// Writes the three pages (the save command).
void save_page_settings();
// Advances display_mode (4 -> 1, else + 1) and writes it at once.
void advanceDisplayMode();
// Writes the four skin keys (title, border, colour, alpha), in this order.
void saveSkinSettings();

// Colour conversion between the file's 0x00RRGGBB and the reference 0x00BBGGRR.
int colourFromFile(int rgb);
int colourToFile(int ref);

// True when `kbps` is one of the 14 Layer III rates of `version`.
bool isLayer3Rate(int version, int kbps);
// The MPEG version (0..2) whose rate table holds `rate`, or -1.
int versionOfRate(int rate);
// The extension (".mp3", ...) of an output type, "" for an unknown type.
const char* outputExtension(int outputType);

// One row per key of tavolin.ini, in the order of loading: the key text (UTF-8),
// the field, the range and default that loading checks, and any list check
// that follows the range checks of every key.
struct SettingKey {
    enum class Type {
        Int,
        Colour, // an int field holding a colour reference; the file holds 0x00RRGGBB
        Text,
    };
    const char* key;
    Type type;
    int Settings::*number;       // Int, Colour
    std::string Settings::*text; // Text
    int lo, hi;                  // Int, Colour: the range a value must lie in
    int def;                     // Int, Colour: the default as the file holds it
    // Int: after all range checks, the value to keep for `v`: `v` when it is
    // one the key allows, else its fallback (mostly `def`).
    int (*listCheck)(const Settings& s, int v, int def) = nullptr;
    std::string (*textDefault)() = nullptr; // Text
    size_t fieldSize = 0;                   // Text: the record field's size in bytes
};
std::span<const SettingKey> settingKeys();
// The value of a key in `s` as the file holds it.
std::string settingFileValue(const SettingKey& key, const Settings& s);
// Writes one key's value from `settings` into the file (replaced through a
// temporary file); false when the file could not be written.
bool saveSetting(const SettingKey& key);

// One line per setting for display: the INI key (UTF-8) and the value as the
// file holds it, in load order; then the derived output format.
struct SettingLine {
    const char* key;
    std::string value;
};
std::vector<SettingLine> settingLines(const Settings& s, const EffectiveOutputFormat& f);

} // namespace kestrel
