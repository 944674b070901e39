// Message-box captions shared by every subsystem (each message names its own).
#pragma once

namespace kestrel::caption {

inline constexpr const char* kMain = "岚石多媒体MP3转换器 标准版";      // the usual one
inline constexpr const char* kMainWide = "岚石多媒体MP3转换器  标准版"; // two blanks
inline constexpr const char* kProduct = "岚石多媒体MP3转换器";
inline constexpr const char* kPlay = "多媒体播放";
inline constexpr const char* kAdd = "多媒体文件增加";
inline constexpr const char* kDelete = "多媒体文件记录删除";

} // namespace kestrel::caption
