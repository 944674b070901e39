// The player's user-visible texts (shown through the wide-character API).
#pragma once

namespace kplayer::text {

inline constexpr const wchar_t* kTitle = L"岚石多媒体音频播放";
inline constexpr const wchar_t* kPlay = L"播放";
inline constexpr const wchar_t* kPause = L"暂停";
inline constexpr const wchar_t* kStop = L"停止";
inline constexpr const wchar_t* kSpeed = L"播放速度";
inline constexpr const wchar_t* kSpeedValue = L"%d.%02d 倍";
inline constexpr const wchar_t* kTime = L"%02d:%02d / %02d:%02d";
inline constexpr const wchar_t* kPasswordTitle = L"密码播放";
inline constexpr const wchar_t* kPasswordPrompt = L"请输入播放密码：";
inline constexpr const wchar_t* kOk = L"确定";
inline constexpr const wchar_t* kCancel = L"取消";
inline constexpr const wchar_t* kPasswordWrong = L"密码错误，请重新输入。";
inline constexpr const wchar_t* kPasswordRefused = L"密码错误，不能播放。";
inline constexpr const wchar_t* kDamaged = L"文件已损坏（校验不符），不能播放。";
inline constexpr const wchar_t* kUnreadable = L"不能读取本文件。";
inline constexpr const wchar_t* kNoDevice = L"不能打开声音设备。";
inline constexpr const wchar_t* kDecodeFailed = L"不能解码本文件的声音数据。";
// The font the window asks for (Windows has it since Vista).
inline constexpr const wchar_t* kFontFace = L"Microsoft YaHei";

} // namespace kplayer::text
