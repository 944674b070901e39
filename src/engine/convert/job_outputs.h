// The outputs of a conversion job: their names fixed before the job starts
// (for outputs converted apart from one another) and the list of what the job
// produced.
#pragma once

#include "engine/convert/conversion_driver.h"
#include "engine/settings/settings.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace kestrel {

// Every per-file output name of `job`'s entries, time-stamped with `now`
// and never given twice. An entry whose name would be one of the job's sources
// gets no output (its message is shown, its result becomes NoOutput) and an
// empty name.
std::vector<std::string> fixPerFileOutputNames(ConversionJob& job, const std::tm& now);

// One output file of a finished job.
struct ProducedOutput {
    std::string path;
    uint64_t pcmBytes = 0;   // the PCM its entries put into it
    double seconds = 0;      // its playing time in the job's output format
    bool incomplete = false; // a write or its finishing failed
    bool noSound() const { return pcmBytes == 0; }
};

// The outputs of `entries` in job order, a joined output once: every entry
// that has an output (converted, without sound or incomplete).
std::vector<ProducedOutput> producedOutputs(const std::vector<JobEntry>& entries,
                                            const EffectiveOutputFormat& format);

} // namespace kestrel
