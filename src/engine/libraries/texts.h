// User-visible texts of the run-time library loader.
#pragma once

namespace kestrel::text {

inline constexpr const char* kLoadLibraryFailed = "装载动态库%s错误";
inline constexpr const char* kExportMissing = "取函数%s错误，请检查是否该版本动态库";
inline constexpr const char* kEffectsExportMissing = "取%s函数%s错误，请检查是否该版本动态库";
inline constexpr const char* kAc3LoadFailed = "装载AC3STREAM.SO错误";
inline constexpr const char* kAc3ExportMissing = "AC3动态库过程调用%s错误";
inline constexpr const char* kPlayerLoadFailed = "装载%s 文件出错";
inline constexpr const char* kPlayerExportMissing = "装载%s 文件函数%s出错";
inline constexpr const char* kInflatorLoadFailed = "load %s error";
inline constexpr const char* kInflatorExportMissing = "load proc error";

} // namespace kestrel::text
