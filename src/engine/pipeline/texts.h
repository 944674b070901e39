// User-visible texts of the readers and decoding shared by conversion and
// playback.
#pragma once

namespace kestrel::text {

// A source that cannot be opened for reading.
inline constexpr const char* kOpenSourceFailed = "打开文件%s错误";
// The stream decoder takes no free-format Layer III: such an MPEG-2/2.5 source
// is refused (once per entry) instead of giving silence.
inline constexpr const char* kFreeFormatLayer3Refused =
    "文件%s:不支持自由格式的MPEG2/2.5 Layer III音频，无法解码";

} // namespace kestrel::text
