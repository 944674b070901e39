// Texts of the settings store: the INI section and key names (part of the file
// format, matched byte for byte) and the value names shown for them.
#pragma once

namespace kestrel::key {

inline constexpr const char* kSection = "岚石多媒体MP3转换器";

inline constexpr const char* kDisplayMode = "界面显示";
inline constexpr const char* kSkinColour = "软件界面颜色";
inline constexpr const char* kTitleStyle = "软件界面类型";
inline constexpr const char* kBorderStyle = "软件界面边框";
inline constexpr const char* kWindowAlpha = "主窗口透明度";
inline constexpr const char* kWmaCodec = "转换WMA编码类型";
inline constexpr const char* kWmaFormat = "转换WMA编码参数";
inline constexpr const char* kExeVariableSpeed = "音频播放EXE调速[0：不调速 1：调速]";
inline constexpr const char* kExePasswordOn = "音频播放EXE密码控制[0：播放 1：密码播放]";
inline constexpr const char* kExePassword = "音频播放EXE密码";
inline constexpr const char* kExeDescription = "音频播放EXE描述";
inline constexpr const char* kAmrMonoMode = "转换AMR音频通道模式";
inline constexpr const char* kAmrMode = "转换AMR编码速率";
inline constexpr const char* kAacProfile = "转换AAC编码类型";
inline constexpr const char* kAacBitRate = "转换AAC编码速率";
inline constexpr const char* kAacQuality = "转换AAC编码质量";
inline constexpr const char* kAacSampleRate = "转换AAC音频采样速率";
inline constexpr const char* kAacChannels = "转换AAC音频通道数";
inline constexpr const char* kAacMonoMode = "转换AAC音频通道模式";
inline constexpr const char* kMp3RateMode = "转换MP3编码类型";
inline constexpr const char* kMp3VbrQuality = "转换MP3可变速率编码质量";
inline constexpr const char* kMp3VbrMin = "转换MP3可变速率最小值";
inline constexpr const char* kMp3VbrMax = "转换MP3可变速率最大值";
inline constexpr const char* kMp3Abr = "转换MP3平均编码速率";
inline constexpr const char* kMp3Cbr = "转换MP3恒定速率";
inline constexpr const char* kMp3Version = "转换MP3音频模式";
inline constexpr const char* kMp3SampleRate = "转换MP3音频采样速率";
inline constexpr const char* kOutputType = "转换文件类型";
inline constexpr const char* kSaveMode = "转换文件保存方式";
inline constexpr const char* kConversionMode = "转换MP3方式";
inline constexpr const char* kMp3Channels = "转换MP3音频通道数";
inline constexpr const char* kMp3MonoMode = "转换MP3音频通道模式";
inline constexpr const char* kSavePath = "转换文件保存路径";

} // namespace kestrel::key

namespace kestrel::text {

inline constexpr const char* kDefaultExePassword = "573921";
inline constexpr const char* kSettingsNotRegular =
    "设置文件%s不是普通文件（%s），各项设置取默认值，也不会保存";
inline constexpr const char* kDefaultExeDescription = "岚石 岚石多媒体MP3转换器制作";

// Output types 0..9 as the main window's drop-down shows them.
inline constexpr const char* kOutputTypeNames[10] = {
    "生成MP3文件",        "生成播放EXE文件",   "生成WAV文件",      "生成WMA文件",
    "生成RAW AAC文件",    "生成MPEG2 AAC文件", "生成MP4文件(AAC)", "生成铃声AMR文件",
    "生成FLASH的FLV文件", "生成输出AVI文件"};

inline constexpr const char* kMonoModeNames[3] = {"双通道合成单通道", "双通道取左通道",
                                                  "双通道取右通道"};

inline constexpr const char* kSaveModeNames[2] = {"生成对应多个MP3/EXE/WAV/WMA文件",
                                                  "自动连接生成,一个MP3/EXE/WAV/WMA文件"};

} // namespace kestrel::text
