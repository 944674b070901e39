// User-visible texts of the media catalogue.
#pragma once

namespace kestrel::text {

inline constexpr const char* kColumnHeaders[8] = {"序号", "文件名称", "大小", "类型",
                                                  "时间", "采样率",   "通道", "其它"};
inline constexpr int kColumnWidths[8] = {36, 200, 60, 60, 40, 60, 40, 40};

inline constexpr const char* kAlreadyListed = "多媒体文件已在列表中存在";
inline constexpr const char* kNothingToDelete = "没有选择删除的多媒体文件记录";
inline constexpr const char* kOpticalDriveFile = "请不要选择光驱多媒体文件，它是自动添加";
inline constexpr const char* kListFull = "多媒体文件列表已满（最多128个记录），请先删除不用的记录";
inline constexpr const char* kListSaveFailed = "保存多媒体文件列表%s失败，原列表文件保持不变";
inline constexpr const char* kListNotRegular =
    "多媒体文件列表%s不是普通文件（%s），列表不能读取，也不会保存";
// The list file's name, what was wrong, the records kept, the records dropped
// and where the damaged file is copied before the list is next saved.
inline constexpr const char* kListDamaged =
    "多媒体文件列表%s已损坏（%s）：保留%s个完整记录，丢弃%s个损坏的记录；下次保存前原文件复制为%s";
inline constexpr const char* kListCountWrong = "记录数%s与文件中的%s个记录不符";
inline constexpr const char* kListTailCut = "末尾%s个字节不成完整记录";
inline constexpr const char* kListPathUnended = "第%s个记录的路径没有结束符";
inline constexpr const char* kListTooShort = "文件只有%s个字节";
// Two of the problems above, one after the other.
inline constexpr const char* kListProblemsJoined = "%s；%s";
inline constexpr const char* kPathTooLong =
    "文件%s:路径超过511个字节，列表记录无法保存，请移到路径较短的文件夹后再增加";

inline constexpr const char* kOpenFilePattern =
    "*.MPG;*.DAT;*.VOB;*.AC3;*.MP3;*.AVI;*.WMA;*.WMV;*.ASF;*.RM;*.RMVB;*.MOV;*.QT;*.MP4;*.3GP;*."
    "M4A;*.AMR;*.FLV;*.F4V;*.SWF;*.AMV;*.MTV";

struct FileFilter {
    const char* label;
    const char* pattern;
};
inline constexpr FileFilter kOpenFileFilters[12] = {
    {"MPG", "*.MPG;*.M1V"},
    {"VCD", "*.DAT"},
    {"DVD", "*.VOB"},
    {"MPEG4", "*.AVI"},
    {"FLASH", "*.FLV;*.F4V;*.SWF"},
    {"Microsoft", "*.ASF;*.WMV;*.WMA"},
    {"Real Play", "*.RM;*.RMVB;*.RMA"},
    {"Quick Time", "*.QT;*.MOV"},
    {"MP4", "*.MP4;*.3GP;*.M4A;*.MTV;*.AMV"},
    {"音频", "*.AC3;*.MP3"},
    {"铃声", "*.AMR"},
    {"All", "*.*"},
};

} // namespace kestrel::text

namespace kestrel::text {

// Media analysis.
inline constexpr const char* kOpenMediaFailed = "文件%s:打开多媒体文件出错";
inline constexpr const char* kUndeterminedType = "文件%s:不确定文件类型错";
inline constexpr const char* kNoAudioInfo = "文件%s:无音频信息";
inline constexpr const char* kMpeg4Bad = "文件%s:MPEG4分析属性错";
inline constexpr const char* kNoAudioMedia = "文件%s:无音频的多媒体文件";
inline constexpr const char* kNoAudioFormat = "文件%s:无音频格式的多媒体文件";

// What a source path names when it is no readable media file; checked before
// the file is opened.
inline constexpr const char* kSourceIsDirectory = "文件%s:是文件夹（目录），不是多媒体文件";
inline constexpr const char* kSourceIsFifo = "文件%s:是命名管道（FIFO），不是多媒体文件";
inline constexpr const char* kSourceIsCharDevice = "文件%s:是字符设备，不是多媒体文件";
inline constexpr const char* kSourceIsBlockDevice = "文件%s:是块设备，不是多媒体文件";
inline constexpr const char* kSourceIsSocket = "文件%s:是套接字，不是多媒体文件";
inline constexpr const char* kSourceIsOther = "文件%s:不是普通文件，不是多媒体文件";
inline constexpr const char* kSourceEmpty = "文件%s:是空文件（0字节），没有多媒体数据";

} // namespace kestrel::text

namespace kestrel::text {

// Media analysis of AAC, AMR ring-tone and MP4-family files.
inline constexpr const char* kNotAac = "文件%s:不是ACC编码文件";
inline constexpr const char* kNotRingTone = "文件%s:不是铃声文件";
inline constexpr const char* kNoAudioCoding = "文件%s:没有发现音频编码信息";

} // namespace kestrel::text
