// Output names. Names never come from a dialog: they are the save path (used
// exactly as stored), the local time and, in per-file mode, the source's base
// name with the output type's extension.
#pragma once

#include "platform/atomic_file.h"

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace kestrel {

inline constexpr size_t kMaxOutputName = kMaxNameBytes;

// The base name of a source: text after the last "/", cut at its last "."
// (empty when there is no ".").
std::string sourceBaseName(const std::string& sourcePath);

// Per-file mode (saveMode 0): savePath + yyyymmddhhmmss + base name + extension.
// Joined mode (saveMode 1): savePath + "合并" + yyyymmddhhmmss + extension.
// At most 511 bytes.
std::string make_output_name(int entryIndex, const std::string& sourcePath, int outputType,
                             int saveMode, const std::tm& localTime, const std::string& savePath);

// Names already given in the current job; a per-file name that was already
// given gets "_2", "_3", ... before its extension (suffixedName) so that
// outputs of one job never replace each other. Outputs are written through
// AtomicFile::Mode::NoReplace, which never replaces an existing file either.
struct JobNames {
    std::vector<std::string> given;
};
std::string uniqueInJob(JobNames& job, const std::string& name);

// True when an output name would be one of the job's sources (the same text,
// or the same file reached through another name).
bool outputIsSource(const std::string& outputName, const std::vector<std::string>& sources);

// The reason of a failed write or close for the messages: the disk is full,
// the file passed the system's size limit, or the system's own text.
std::string writeFailureReason(int err);

} // namespace kestrel
