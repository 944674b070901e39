// User-visible texts of the platform readers.
#pragma once

namespace kestrel::text {

// Shown when the Windows Media reader reports the end of the file, an error
// or a missing codec.
inline constexpr const char* kWmPlayEnded = "播放结束，请选择其它功能";

// A seek the source cannot serve (no index, no known length).
inline constexpr const char* kSeekUnavailable = "文件%s不能定位播放位置";

} // namespace kestrel::text
