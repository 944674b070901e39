// User-visible texts of fast conversion.
#pragma once

namespace kestrel::text {

inline constexpr const char* kFastNoSelection = "没有选择快速转换的多媒体文件"; // caption kPlay
inline constexpr const char* kFastUnsupported = "不支持该类型文件的快速转换";   // caption kMain
inline constexpr const char* kFastStart = "开始快速转换文件%s";                 // status line
inline constexpr const char* kFastProgress = "转换文件%s  [%d/%d]秒";           // status line
inline constexpr const char* kFastEnd = "快速转换文件%s结束";                   // status line
inline constexpr const char* kFastOpenOutputFailed = "打开生成文件%s错误";      // caption kMain
inline constexpr const char* kFastOpenSourceFailed = "打开文件%s错误";          // caption kMainWide
inline constexpr const char* kFastSameAsSource =
    "生成文件%s与源文件相同，不能覆盖源文件";                         // caption kMain
inline constexpr const char* kFastWriteFailed = "写入生成文件%s错误"; // caption kMain

} // namespace kestrel::text
