// User-visible texts of the output manager.
#pragma once

namespace kestrel::text::manager {

inline constexpr const char* kTitle = "岚石多媒体MP3转换器输出控制";
inline constexpr const char* kCaption = "岚石多媒体MP3转换器";
inline constexpr const char* kRawAacCaption = "岚石MP3编辑器 输出管理";
inline constexpr const char* kRawAac = "AAC 编码 原始流 暂不能播放";
inline constexpr const char* kOpenFailed = "打开文件%s失败";
inline constexpr const char* kMp3Analysis = "分析MP3文件错误";
inline constexpr const char* kPlayStart = "开始播放文件%s";
inline constexpr const char* kPlaySecond = "播放文件 [%d/%d]秒";
// The title and artist of the output, after the status texts above.
inline constexpr const char* kPlayingTags = "%s  %s";
inline constexpr const char* kPlayDone = "文件播放完成，请选择其他功能";
inline constexpr const char* kDeleteBusy = "正在播放，请结束（停止）后删除";
inline constexpr const char* kDeleteAsk = "确定删除文件%s";
inline constexpr const char* kDeleteFailed = "删除文件%s失败";
inline constexpr const char* kJobDone = "转换完成，请选择";
// While the window is shown the main window's start commands do nothing.
inline constexpr const char* kStartsBlocked = "输出控制窗口打开时不能播放或转换，请先返回";
inline constexpr const char* kExeDamaged = "文件%s不是完整的自播放文件";

// Columns and buttons.
inline constexpr const char* kColumnNumber = "序号";
inline constexpr const char* kColumnSource = "转换文件";
inline constexpr const char* kColumnOutput = "输出文件";
inline constexpr const char* kColumnTime = "时间";
inline constexpr const char* kSeconds = "%d秒";
inline constexpr const char* kPlay = "播放";
inline constexpr const char* kStop = "停止";
inline constexpr const char* kDelete = "删除";
inline constexpr const char* kBack = "返回";
inline constexpr const char* kPlayTip = "播放编辑输出文件";
inline constexpr const char* kStopTip = "停止编辑输出文件播放";
inline constexpr const char* kDeleteTip = "删除编辑输出文件";
inline constexpr const char* kBackTip = "关闭输出窗口";

} // namespace kestrel::text::manager
