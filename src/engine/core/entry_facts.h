// The facts of one list entry that the workers need: taken from its media
// record once (entryFacts in the catalogue) and carried as they are by the
// play request, the job table, the readers and the current entry.
#pragma once

#include <cstdint>
#include <string>

namespace kestrel {

struct EntryFacts {
    int32_t serial = 0;
    std::string path;
    uint64_t fileSize = 0; // the real size, also past 4 GiB
    std::string typeName;
    int32_t durationSec = 0;
    int32_t sourceRate = 44100;
    int32_t sourceChannels = 2; // capped at 2
    int32_t kind = 0;
};

} // namespace kestrel
