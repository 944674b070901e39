// Texts of the audio output device.
#pragma once

namespace kestrel::text::device {

// Standard-error diagnostic when a ring cannot be allocated.
inline constexpr const char* kNoMemory = "Memory allocation error\n";
// Start-up check: no output device at all.
inline constexpr const char* kNone = "无声卡，或检测声卡失败，程序无法运行";
// The conversion driver's message when the device cannot be opened.
inline constexpr const char* kOpenFailed = "打开声卡设备失败，请检查重试";

} // namespace kestrel::text::device
