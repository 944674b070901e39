// The optical discs of the machine: the file systems of type iso9660 or udf
// in the mount table, wherever they are mounted.
//
// The mount table is /proc/self/mounts; KESTREL_MOUNT_TABLE names another file
// in the same format (tests point it at folders laid out like discs).
#pragma once

#include <string>
#include <vector>

namespace kestrel {

// Mount points of the optical file systems, in mount-table order, each once.
std::vector<std::string> opticalMountPoints();

// True when `path` (absolute) lies on one of them.
bool isOnOpticalDisc(const std::string& path);

// Parses mount-table text ("device mountpoint type options ..." lines, with
// the table's octal escapes such as "\040" for a blank in a mount point) into
// the mount points of the optical file systems. Exposed for tests.
std::vector<std::string> parseOpticalMounts(const std::string& table);

} // namespace kestrel
