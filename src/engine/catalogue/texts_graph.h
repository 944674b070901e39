// User-visible texts of the analysis of files read through the media graph
// and the Windows Media reader.
#pragma once

namespace kestrel::text {

inline constexpr const char* kGraphNoAudio = "文件[%s]无音频信息，无法转换";
inline constexpr const char* kRealDecoderMissing =
    "文件[%s]没有安装相关解码软件,请安装Real Play播放器或安装相关Real Play解码插件";
inline constexpr const char* kQuickTimeDecoderMissing =
    "文件[%s]没有安装相关解码软件,请安装Quick Time播放器或安装相关Quick Time解码插件";

} // namespace kestrel::text
