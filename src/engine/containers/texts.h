// User-visible texts and diagnostics of the container readers.
#pragma once

namespace kestrel::text {

// MPEG audio files (message boxes of mpegAudioStart).
inline constexpr const char* kNotMp3File = "不是MP3类型文件";
inline constexpr const char* kMp3AnalysisError = "分析MP3文件错误";

// Demultiplexer diagnostic: written to stderr only in a debug build or when
// KESTREL_DEBUG is set, never into a user's progress line.
inline constexpr const char* kTooMuchStuffing = "too much stuffing\n";

} // namespace kestrel::text
