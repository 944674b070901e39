#include "engine/convert/job_outputs.h"

#include "engine/convert/output_naming.h"
#include "engine/convert/texts.h"
#include "engine/core/captions.h"
#include "engine/core/text_format.h"
#include "platform/ports.h"

namespace kestrel {

std::vector<std::string> fixPerFileOutputNames(ConversionJob& job, const std::tm& now) {
    std::vector<JobEntry>& jobTable = job.jobTable;
    std::vector<std::string> sources;
    for (const auto& e : jobTable)
        sources.push_back(e.path);
    JobNames given;
    std::vector<std::string> names;
    for (size_t i = 0; i < jobTable.size(); ++i) {
        JobEntry& e = jobTable[i];
        std::string name =
            uniqueInJob(given, make_output_name(static_cast<int>(i), e.path, settings.output_type,
                                                0, now, settings.save_path));
        if (outputIsSource(name, sources)) {
            showMessage(caption::kMain, formatText(text::kOutputIsSource, name));
            e.result = EntryResult::NoOutput;
            name.clear();
        }
        names.push_back(name);
    }
    return names;
}

std::vector<ProducedOutput> producedOutputs(const std::vector<JobEntry>& entries,
                                            const EffectiveOutputFormat& format) {
    std::vector<ProducedOutput> outs;
    for (const auto& e : entries) {
        if (e.result == EntryResult::NotRun || e.result == EntryResult::NoOutput) continue;
        ProducedOutput* o = nullptr;
        for (auto& x : outs)
            if (x.path == e.outputName) o = &x;
        if (!o) {
            outs.push_back(ProducedOutput{e.outputName});
            o = &outs.back();
        }
        o->pcmBytes += e.pcmBytes;
        if (e.result == EntryResult::Incomplete) o->incomplete = true;
    }
    const uint64_t perSec = static_cast<uint64_t>(format.out_rate) * format.out_channels * 2;
    for (auto& o : outs)
        o.seconds = perSec ? double(o.pcmBytes) / double(perSec) : 0.0;
    return outs;
}

} // namespace kestrel
