// User-visible texts of the conversion engine.
#pragma once

namespace kestrel::text {

inline constexpr const char* kJoinedNameFormat = "%s合并%04d%02d%02d%02d%02d%02d%s";
inline constexpr const char* kPerFileNameFormat = "%s%04d%02d%02d%02d%02d%02d%s";
inline constexpr const char* kOutputIsSource =
    "生成文件%s与源文件相同，不能覆盖源文件，该文件不转换";
inline constexpr const char* kWavTooLarge =
    "生成文件%s已达到WAV文件4GB的大小上限，其后的声音没有写入";

} // namespace kestrel::text
