// Texts of the command line's own that the user sees.
#pragma once

namespace kestrel::cli::text {

// The one progress line of a batch on a terminal: entries done, entries in
// all, the batch's position as percent of its whole playing time.
inline constexpr const char* kBatchProgress = "批量转换 %d/%d 个文件完成  [%d%%]";
// A conversion process that ended before it had reported its entry.
inline constexpr const char* kWorkerLost =
    "kestrel-cli convert: %s: the conversion process ended unexpectedly (%s)";
// No conversion process could be started; the batch runs in this process.
inline constexpr const char* kWorkerStartFailed =
    "kestrel-cli convert: cannot start a conversion process (%s); converting one file at a time";

} // namespace kestrel::cli::text
