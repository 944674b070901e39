// The conversion driver: `start_conversion` copies the selected list entries
// into the job table, derives the output format and starts
// `conversion_thread`, which loads the decoder libraries, opens the sound
// device, and for each entry names and opens the output, reads the source
// through the reader of its route, hands every decoded block to pcm_sink and
// finishes the output.
//
// Cancellation: clearing `running` ends the current entry's reading loop; its
// output is finished properly (headers patched, every written frame kept) and
// the remaining entries are skipped.
#pragma once

#include "engine/catalogue/media_record.h"
#include "engine/core/entry_facts.h"

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace kestrel {

inline constexpr int kMaxJobEntries = 128;
inline constexpr int kMaxOutputRecords = 16;

// Reader routes.
enum class ReaderRoute : int32_t {
    None = -1,
    MpegStream = 1,
    Mpeg4Avi = 2,
    Asf = 3,
    DirectShow = 6,
    Mp4 = 7,
    MpegAudio = 8,
    Amr = 88,
    Aac = 89,
    Flv = 90,
    Swf = 92,
    Mtv = 93,
    Amv = 94,
};

// What became of a job entry. Only an entry whose sound reached its output
// is converted; the others are reported as such.
enum class EntryResult : int32_t {
    NotRun,     // not reached: the job was stopped or its output had failed
    Converted,  // sound was written and the output finished whole
    NoOutput,   // its output could not be created
    NoSound,    // its output holds no sound of it
    Incomplete, // a write or the finishing failed: the output holds part of it
};

struct JobEntry : EntryFacts {
    double rateRatio = 1.0;
    ReaderRoute route = ReaderRoute::None;
    std::string outputName;
    EntryResult result = EntryResult::NotRun;
    uint64_t pcmBytes = 0; // PCM bytes of this entry in its output
};

struct OutputRecord {
    int32_t listNumber = 0;
    int32_t duration = 0;
    std::string sourcePath;
    int32_t mp3RateMode = 0;
    int32_t mpegVersion = 0;
    int32_t outChannels = 2;
    int32_t outRate = 44100;
    int32_t outputType = 0;
    std::string outputPath;
    int32_t exeKeys[5] = {0, 0, 0, 0, 0};
    uint32_t pcmBytes = 0;
    int32_t exePeriod = 0;
};

// The job's entries, with each one's output name and result once it has run.
extern std::vector<JobEntry> jobTable;
// The output manager's records: at most kMaxOutputRecords, one per entry that
// had an output; jobTable tells about every entry.
extern std::vector<OutputRecord> outputRecords;

// The route of an entry from its type text and kind; None when none.
ReaderRoute routeFor(const std::string& typeName, MediaKind kind);

// Output types the driver can produce now.
bool outputTypeAvailable(int outputType);

// Output names fixed by the caller, by job index (a joined output: index 0);
// an entry without one (or an empty one) gets its time-stamped name. The names
// are still never given twice in a job.
extern std::vector<std::string> jobOutputNames;
// Outputs replace a file of their name (once they are finished) instead of
// taking the next free name; off unless the caller asks for it.
extern bool jobOutputsReplace;

// Builds the job table from the selected rows of the media list and derives
// the output format, without starting anything. 0 when the job has entries;
// negative when it cannot run (message shown).
int prepare_job();
// Prepares the job and starts the thread. 0 when started; negative when
// nothing started (message shown).
int start_conversion();
// Waits for the conversion thread to end.
void wait_conversion();
// The thread body (also callable directly); returns 0.
int conversion_thread();

} // namespace kestrel
