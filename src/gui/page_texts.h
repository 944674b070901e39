// Texts of the output-format pages.
#pragma once

namespace kestrel::gui::text {

// MP3 page.
inline constexpr const char* kMp3Versions[3] = {"MPEG1 MP3", "MPEG2 MP3", "MPEG2.5 MP3"};
inline constexpr const char* kMp3RateModes[3] = {
    "MP3恒定编码速率(CBR)方式", "MP3可变编码速率(VBR)方式", "MP3平均编码速率(ABR)方式"};
inline constexpr const char* kVbrQualities[10] = {"0级[最好级别]", "1级",          "2级", "3级",
                                                  "4级[一般级别]", "5级",          "6级", "7级",
                                                  "8级",           "9级[最差级别]"};
inline constexpr const char* kChannelItems[2] = {"双通道立体声", "单通道"};
inline constexpr const char* kMonoModes[3] = {"双通道合成单通道", "双通道取左通道",
                                              "双通道取右通道"};
inline constexpr const char* kConversionModes[3] = {"正常速率转换MP3/EXE/WAV/WMA/AAC,播出声音",
                                                    "快速转换MP3/EXE/WAV/WMA/AAC,播出声音",
                                                    "快速转换MP3/EXE/WAV/WMA/AAC,不播出声音"};
inline constexpr const char* kSaveModes[2] = {"生成对应多个MP3/EXE/WAV/WMA文件",
                                              "自动连接生成,一个MP3/EXE/WAV/WMA文件"};
inline constexpr const char* kLabelVersion = "MP3编码模式";
inline constexpr const char* kLabelRateMode = "编码类型";
inline constexpr const char* kLabelVbrQuality = "VBR编码质量";
inline constexpr const char* kLabelCbr = "CBR编码质量";
inline constexpr const char* kLabelVbrMin = "最小速率";
inline constexpr const char* kLabelVbrMax = "最大速率";
inline constexpr const char* kLabelAbr = "ABR编码速率";
inline constexpr const char* kAbrHint = "大小80到320 Kbps";
inline constexpr const char* kLabelSampleRate = "音频采样率";
inline constexpr const char* kLabelChannels = "音频编码通道";
inline constexpr const char* kLabelMonoMode = "单通道编码方式";
inline constexpr const char* kLabelConversionMode = "转换方式";
inline constexpr const char* kLabelSaveMode = "保存方式";
inline constexpr const char* kLabelSavePath = "保存路径";
inline constexpr const char* kChoose = "选择";
inline constexpr const char* kChooseTip = "选择转换后保存的文件路径";
inline constexpr const char* kChooseTitle = "MP3 文件保存路径选择";
inline constexpr const char* kChooseFilter = "MP3 File (*.MP3 *.mp3);;All files (*)";
inline constexpr const char* kGroupMp3 = " MP3参数设置 ";
inline constexpr const char* kGroupAudio = " 转换(MP3/WAV/EXE/FLV)音频参数设置 ";
inline constexpr const char* kGroupMode = " 转换方式 ";
inline constexpr const char* kRateItem = "%dK bps";
inline constexpr const char* kVbrMinAboveMax = "MP3可变速率(VBR)的最小编码速率不能大于最大编码速率";
inline constexpr const char* kAbrRange = "请输入一个在 80 和 320 之间的整数。";
inline constexpr const char* kAppName = "岚石多媒体MP3转换器";

// WMA/EXE page.
inline constexpr const char* kExeVariableSpeed = "生成可变速的音频播放执行程序";
inline constexpr const char* kExePasswordOn = "生成密码保护的执行程序";
inline constexpr const char* kLabelPassword = "密码";
inline constexpr const char* kLabelDescription = "音频播放说明";
inline constexpr const char* kLabelWmaCodec = "编码类型";
inline constexpr const char* kLabelWmaFormat = "编码参数";
inline constexpr const char* kGroupExe = " 音频播放EXE参数设置 ";
inline constexpr const char* kGroupWma = " WMA参数设置 ";
inline constexpr const char* kNoteExeFormat = "采样速率、通道与MP3相同";
inline constexpr const char* kNotePassword = "请记住密码，否则生成的文件无法播放";

// AAC/AMR page.
inline constexpr const char* kAacProfiles[4] = {"Low Complexity", "AAC Main", "AAC SSR", "AAC LTP"};
inline constexpr const char* kAmrModes[8] = {
    "MR475类型 编码速率4.75 kbps", "MR515类型 编码速率5.15 kbps", "MR59类型 编码速率5.9 kbps",
    "MR67类型 编码速率6.7 kbps",   "MR74类型 编码速率7.4 kbps",   "MR795类型 编码速率7.95 kbps",
    "MR102类型 编码速率10.2 kbps", "MR122类型 编码速率12.2 kbps"};
inline constexpr const char* kLabelAacProfile = "编码类型";
inline constexpr const char* kLabelAacQuality = "编码质量";
inline constexpr const char* kLabelAacBitRate = "编码速率";
inline constexpr const char* kLabelAacSampleRate = "采样率";
inline constexpr const char* kLabelAmrMode = "AMR编码速率";
inline constexpr const char* kGroupAac = " 转换AAC参数设置 ";
inline constexpr const char* kGroupAmr = " 转换AMR参数设置 ";

} // namespace kestrel::gui::text
