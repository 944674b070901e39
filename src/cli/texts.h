// Texts of the command line's own that the user sees.
#pragma once

namespace kestrel::cli::text {

// A conversion process that ended before it had reported its entry.
inline constexpr const char* kWorkerLost =
    "kestrel-cli convert: %s: the conversion process ended unexpectedly (%s)";
// No conversion process could be started; the batch runs in this process.
inline constexpr const char* kWorkerStartFailed =
    "kestrel-cli convert: cannot start a conversion process (%s); converting one file at a time";

} // namespace kestrel::cli::text
