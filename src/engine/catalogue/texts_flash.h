// User-visible texts of the media analysis of Flash, MTV and AMV files.
#pragma once

namespace kestrel::text {

inline constexpr const char* kNoAvCoding = "文件%s:没有发现音视频编码信息";
inline constexpr const char* kAnalysisError = "文件%s:分析错误";
inline constexpr const char* kNotFlv = "文件%s:不是FLASH 的FLV编码文件";
inline constexpr const char* kFlv8Bit = "暂时不支持文件%s:是8位 的FLV音频编码";
inline constexpr const char* kSwfCompressed = "暂时不支持压缩的FLASH类型文件";
inline constexpr const char* kNotSwf = "文件%s:不是FLASH SWF文件";
inline constexpr const char* kSwfDamaged = "文件%s:压缩的FLASH文件数据已损坏";

} // namespace kestrel::text
