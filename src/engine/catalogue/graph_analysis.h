// The analysis branches of the files decoded through the platform: RealMedia
// and QuickTime through the media graph, Windows Media through its reader,
// and the media graph as the last resort of the stream probe.
#pragma once

#include "engine/catalogue/media_record.h"

#include <cstdint>
#include <string>

namespace kestrel {

// Which family a path's extension names: RealMedia when the last three
// characters (upper-cased) contain "RM" or the last four are "RMVB";
// QuickTime when they are "MOV" or contain "QT"; Windows Media for "WMA",
// "WMV" and "ASF"; else none.
enum class PlatformFamily { None, RealMedia, QuickTime, WindowsMedia };
PlatformFamily platformFamily(const std::string& ext3, const std::string& ext4);

// RealMedia or QuickTime through the media graph; `size` is the file's size.
// 0, or -1 (too small to be a media file) / -2 (no audio, or no decoder) with
// the message shown.
int analyzeWithGraph(const std::string& path, MediaRecord& rec, uint64_t size,
                     PlatformFamily family);
// Windows Media through WmAudioReader. 0, -1 (too small) or -2 (no audio).
int analyzeWindowsMedia(const std::string& path, MediaRecord& rec, uint64_t size);
// The stream probe's last resort: any file the media graph decodes is listed
// as "其他" (kind 8000). 0, or -2 with "undetermined type" shown.
int analyzeLastResort(const std::string& path, MediaRecord& rec, uint64_t size);
// The same without a message: fills `rec` as "其他" (kind 8000) when the
// media graph decodes the file's sound; else the graph's negative code.
// A file whose own reader cannot decode its sound takes this route.
int listThroughGraph(const std::string& path, MediaRecord& rec, uint64_t size);

// The name of the sound's codec of a file the platform decodes, into `codec`
// (left as it is when the file cannot be opened).
void describeGraphCodec(const std::string& path, std::string& codec);

} // namespace kestrel
