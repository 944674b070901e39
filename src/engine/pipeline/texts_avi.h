// User-visible texts of the MPEG-4 AVI route, for conversion and playback.
#pragma once

namespace kestrel::text {

// The stream probe does not know the source as an MPEG-4 AVI with sound.
inline constexpr const char* kAviProbeFailed = "分析文件%s失败";
// Conversion: the reader is ready.
inline constexpr const char* kAviConvertStart = "开始转换文件%s";
// Conversion: the source cannot be opened for reading (caption with two blanks).
inline constexpr const char* kAviConvertOpenFailed = "打开文件失败";
// Conversion: the AVI reader refused the source.
inline constexpr const char* kAviConvertReaderFailed = "分析文件%s AVI初始化解码失败";
// Playback: the source cannot be opened for reading (caption with two blanks).
inline constexpr const char* kAviPlayOpenFailed = "文件%s打开失败，可能文件不存在";
// Playback: the AVI reader refused the source (empty caption).
inline constexpr const char* kAviPlayReaderFailed = "AVI初始化解码失败";

} // namespace kestrel::text
