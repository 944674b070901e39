// User-visible texts of the platform readers.
#pragma once

namespace kestrel::text {

// Shown when the Windows Media reader reports the end of the file, an error
// or a missing codec.
inline constexpr const char* kWmPlayEnded = "播放结束，请选择其它功能";

} // namespace kestrel::text
