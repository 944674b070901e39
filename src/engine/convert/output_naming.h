// Output names. Names never come from a dialog: they are the save path (used
// exactly as stored), the local time and, in per-file mode, the source's base
// name with the output type's extension.
#pragma once

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace kestrel {

inline constexpr size_t kMaxOutputName = 511;

// The base name of a source: text after the last "/", cut at its last "."
// (empty when there is no ".").
std::string sourceBaseName(const std::string& sourcePath);

// Per-file mode (saveMode 0): savePath + yyyymmddhhmmss + base name + extension.
// Joined mode (saveMode 1): savePath + "合并" + yyyymmddhhmmss + extension.
// At most 511 bytes.
std::string make_output_name(int entryIndex, const std::string& sourcePath, int outputType,
                             int saveMode, const std::tm& localTime, const std::string& savePath);

// Names already given in the current job; a per-file name that was already
// given gets "_2", "_3", ... before its extension so that outputs of one job
// never replace each other.
struct JobNames {
    std::vector<std::string> given;
};
std::string uniqueInJob(JobNames& job, const std::string& name);

// `name` with "_k" before its extension (k >= 2; k <= 1 gives `name`), the
// stem cut so that the whole stays within 511 bytes.
std::string suffixedName(const std::string& name, int k);

// A time-stamped output never replaces an existing file, of this run or of
// another one started in the same second. The output is written under
// `name` + ".part" and moved to its name when it is finished.
//
// Creates the ".part" file of the first of `name`, name_2, name_3 ... whose
// file and ".part" file both do not exist, exclusively (a run that starts at
// the same moment gets another one). On success `name` is the chosen name and
// the open stream is returned; null with errno set on failure.
FILE* createOutputFile(std::string& name);

// Moves the finished `partName` to the first free one of `name`, name_2,
// name_3 ... (`name` as asked of createOutputFile), never replacing a file:
// normally the name the ".part" file stands for, the next free one when that
// has appeared meanwhile. Returns the name the
// file now has; empty (errno set) when it could not be moved.
std::string placeOutputFile(const std::string& partName, const std::string& name);

// True when an output name would be one of the job's sources (the same text,
// or the same file reached through another name).
bool outputIsSource(const std::string& outputName, const std::vector<std::string>& sources);

// The reason of a failed write or close for the messages: the disk is full,
// the file passed the system's size limit, or the system's own text.
std::string writeFailureReason(int err);

} // namespace kestrel
