// User-visible texts of the playback threads.
#pragma once

namespace kestrel::text {

inline constexpr const char* kPlayBusy = "正在转换或播放[%s]，不能再次播放";
inline constexpr const char* kPlayStart = "开始播放文件%s";
inline constexpr const char* kPlayStatus = "播放文件%s  [%d/%d]秒";
inline constexpr const char* kPlayEnded = "文件%s播放结束";
inline constexpr const char* kPlayStopped = "播放文件%s结束";
inline constexpr const char* kPlayIdle = "文件播放完成，请选择其他功能";
inline constexpr const char* kPausePlay = "暂停文件[%s]播放";
inline constexpr const char* kDragPlay = "拖动播放文件%s位置 [%d/%d]秒";
inline constexpr const char* kDragRecord = "拖动录制文件%s位置 [%d/%d]秒";
inline constexpr const char* kSoundSwitchIdle = "只有播放或转换状态下才能开启或关闭声音播放开关";
inline constexpr const char* kDisplaySwitchIdle =
    "只有播放或转换状态下才能开启或关闭频谱及波形显示开关";
inline constexpr const char* kEffectsIdle = "只有播放或转换状态下才能开启音频效果窗口";
inline constexpr const char* kNoPlayerForType = "暂时不支持该类型文件的播放";
inline constexpr const char* kPlayPcmChangeFailed = "文件%s:无法转换采样率或声道，不能播放";

} // namespace kestrel::text
