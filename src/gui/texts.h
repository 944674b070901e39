// User-visible texts of the main window and its pages.
#pragma once

namespace kestrel::gui::text {

inline constexpr const char* kWindowTitle = "岚石多媒体MP3转换器  标准版 V4.00 ";
inline constexpr const char* kCaption = "岚石多媒体MP3转换器 标准版";
inline constexpr const char* kWelcome = "欢迎使用岚石 岚石多媒体MP3转换器 标准版 V4.00 请选择功能";
inline constexpr const char* kExitQuestion = "岚石多媒体MP3转换器正在运行，是否退出";
inline constexpr const char* kSystemMenuAbout = "关于 kestrel(&A)...";
inline constexpr const char* kAboutBoxTitle = "岚石多媒体MP3转换器  标准版 V4.00版";
inline constexpr const char* kAboutProduct = "岚石多媒体MP3转换器 标准版 V4.00";
inline constexpr const char* kAboutLink1 =
    "通过岚石多媒体技术下载更多岚石多媒体工具\\标准\\论文及资料";
inline constexpr const char* kAboutLink2 = "通过岚石了解并更新最新的岚石产品";
inline constexpr const char* kAboutLink3 = "通过岚石多媒体论坛发布更多多媒体技术资讯";
inline constexpr const char* kAboutFeedback = "问题反馈";
inline constexpr const char* kAboutUpdate = "软件升级";
inline constexpr const char* kAboutReturnTip = "返回应用程序";
inline constexpr const char* kWmaEncodingTitle = "WMA编码";
inline constexpr const char* kWmaEncodingText = "正在进行WMA编码，请稍候";
inline constexpr const char* kSystemMenu = "岚石系统";

// Tabs.
inline constexpr const char* kTabList = "多媒体管理";
inline constexpr const char* kTabMp3 = "MP3设置";
inline constexpr const char* kTabWma = "WMA设置";
inline constexpr const char* kTabMp4 = "MP4设置";

// Buttons with a label.
inline constexpr const char* kAdd = "增加";
inline constexpr const char* kDelete = "删除";
inline constexpr const char* kSave = "保存";
inline constexpr const char* kRefresh = "刷新";
inline constexpr const char* kAbout = "关于";
inline constexpr const char* kHelp = "帮助";
inline constexpr const char* kContact = "联系";
inline constexpr const char* kSupport = "支持";

// Tool tips (shown only while nothing plays or converts).
inline constexpr const char* kTipPlay = "进行多媒体文件声音播放";
inline constexpr const char* kTipAdd = "添加多媒体文件记录";
inline constexpr const char* kTipDelete = "删除多媒体文件记录";
inline constexpr const char* kTipSave = "保存多媒体文件记录";
inline constexpr const char* kTipRefresh = "光盘刷新";
inline constexpr const char* kTipDisplayStyle =
    "界面颜色更换及频谱显示类型切换，提供五种颜色方式选择";
inline constexpr const char* kTipExit = "退出应用程序";
inline constexpr const char* kTipStop = "录制、播放停止";
inline constexpr const char* kTipConvert = "开始MP3/WAV/EXE/WMA/AAC/AMR/FLASH等录制";
inline constexpr const char* kTipPause = "暂停多媒体文件声音播放";
inline constexpr const char* kTipPauseRecord = "暂停MP3/WAV/EXE/WMA/AAC/AMR/FLASH等录制，用于裁减";
inline constexpr const char* kTipEffects = "用岚石音效器调整转换或播放的声音效果";
inline constexpr const char* kTipSoundSwitch =
    "转换过程中播放声音控制开关，选择关闭声音可加快转换速度";
inline constexpr const char* kTipDisplaySwitch =
    "转换过程中频谱及波形显示控制开关，选择关闭频谱及波形显示可加快转换速度";
inline constexpr const char* kTipFast =
    "保留原来音频 不进行再次编码 快速转换 适合MPEG1/VCD/MPEG2等类型";
inline constexpr const char* kTipWiden = "增加频谱显示宽度";
inline constexpr const char* kTipNarrow = "减少频谱显示宽度";
inline constexpr const char* kTipSupport = "访问岚石网站检查岚石多媒体MP3转换器产品升级";
inline constexpr const char* kTipContact = "反馈岚石多媒体MP3转换器产品使用问题";
inline constexpr const char* kTipHelp = "打开帮助文件";
inline constexpr const char* kTipAbout = "关于岚石多媒体MP3转换器";
inline constexpr const char* kTipOutputType =
    "请通过下拉框选择转换输出文件类型 本软件支持MP3/WAV/EXE/WMA/AAC/AMR/FLASH等多种类型";
inline constexpr const char* kTipGainLeft =
    "请通过滑动条调整文件编码输出声音左声道大小 该调整直接影响转换输出文件声音大小";
inline constexpr const char* kTipGainRight =
    "请通过滑动条调整文件编码输出声音右声道大小 该调整直接影响转换输出文件声音大小";
inline constexpr const char* kTipVolumeLeft =
    "请通过滑动条调整播放声音左声道大小 该调整直影响播放声音，不影响输出文件声音大小";
inline constexpr const char* kTipVolumeRight =
    "请通过滑动条调整播放声音右声道大小 该调整直影响播放声音，不影响输出文件声音大小";
inline constexpr const char* kTipPosition = "请通过滑动条调整多媒体文件播放或转换位置";

// Output type drop-down, in type order.
inline constexpr const char* kOutputTypes[10] = {
    "生成MP3文件",        "生成播放EXE文件",   "生成WAV文件",      "生成WMA文件",
    "生成RAW AAC文件",    "生成MPEG2 AAC文件", "生成MP4文件(AAC)", "生成铃声AMR文件",
    "生成FLASH的FLV文件", "生成输出AVI文件"};

// Media list.
inline constexpr const char* kColumnHeaders[8] = {"序号", "文件名称", "大小", "类型",
                                                  "时间", "采样率",   "通道", "其它"};
inline constexpr int kColumnWidths[8] = {36, 200, 60, 60, 40, 60, 40, 40};
inline constexpr const char* kAddCaption = "多媒体文件增加";
// The add dialog's first filter: every pattern of the types the list takes.
inline constexpr const char* kAddAllMedia = "多媒体文件";

// The sound-effects window.
namespace effects {
inline constexpr const char* kTitle = "岚石音效器";
inline constexpr const char* kEcho = " 回声 ";
inline constexpr const char* kFilter = " 均衡器 ";
inline constexpr const char* kLevel = " 音量 ";
inline constexpr const char* kOn = "启用";
inline constexpr const char* kDelay = "延时(毫秒)";
inline constexpr const char* kFeedback = "反馈(%)";
inline constexpr const char* kWet = "回声量(%)";
inline constexpr const char* kGain = "增益(0.1dB)";
inline constexpr const char* kBandNames[10] = {"31", "62", "125", "250", "500",
                                               "1K", "2K", "4K",  "8K",  "16K"};
} // namespace effects

// The skin dialog.
namespace skin {
inline constexpr const char* kSkinTitle = "界面换肤及颜色设置";
inline constexpr const char* kTitleStyle = "换窗头";
inline constexpr const char* kBorderStyle = "换框边";
inline constexpr const char* kSaveSkin = "保存";
inline constexpr const char* kRed = "红";
inline constexpr const char* kGreen = "绿";
inline constexpr const char* kBlue = "蓝";
inline constexpr const char* kOpacity = "透明度";
} // namespace skin

} // namespace kestrel::gui::text
