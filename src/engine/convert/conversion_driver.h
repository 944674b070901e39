// The conversion driver: `start_conversion` copies the selected list entries
// into the job table, derives the output format and starts
// `conversion_thread`, which loads the decoder libraries, opens the sound
// device, and for each entry names and opens the output, reads the source
// through the reader of its route, hands every decoded block to pcm_sink and
// finishes the output.
//
// A job is a ConversionJob; the window runs one at a time, the main job,
// through `start_conversion`.
//
// Cancellation: clearing `running` ends the current entry's reading loop; its
// output is finished properly (headers patched, every written frame kept) and
// the remaining entries are skipped.
#pragma once

#include "engine/catalogue/media_record.h"
#include "engine/convert/tag_writing.h"
#include "engine/core/entry_facts.h"
#include "engine/core/run_state.h"

#include <cstdint>
#include <memory>
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
    // An earlier file of the output's name that stayed because the output is
    // not whole (it went beside it, under outputName).
    std::string keptEarlier;
    // The system error that left the entry without any file (a full disk,
    // say); 0 when none is known.
    int lostError = 0;
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

// The route of an entry from its type text and kind; None when none.
ReaderRoute routeFor(const std::string& typeName, MediaKind kind);

// The libraries a job loads for its entries and output type, as flags.
enum JobLibrary : unsigned {
    kLibAdpcmDec = 1u << 0,
    kLibAacDec = 1u << 1,
    kLibAacEnc = 1u << 2,
    kLibAmrEnc = 1u << 3,
    kLibAmrDec = 1u << 4,
    kLibMtvDec = 1u << 5,
    kLibMpegAudio = 1u << 6,
    kLibAc3 = 1u << 7,
};
// The decoder libraries the reader of `route` uses.
unsigned librariesForRoute(ReaderRoute route);
// Those of every entry of `entries`, and the encoder of `outputType`.
unsigned librariesForJob(const std::vector<JobEntry>& entries, int outputType);

// What ConversionJob::run returns when another job is running.
inline constexpr int kJobBusy = -3;

// One conversion job: its entries (the job table), the records of the outputs
// it produced, the state of the output being written (the WAV count, the MP3
// encoder's buffers) and the PCM buffer its readers decode into.
//
// One job runs at a time per process: the MP3 encoder library (mp3enc) holds
// one encoder per process, and the PCM stage with its rate changer
// (Corvopcmchange), effects and device hooks is one per process. run()
// refuses with kJobBusy while another job runs. Jobs may be created, prepared
// and read freely; they poll the process-wide run flags (`running`, `paused`,
// `converting`, ...) that the window's commands set.
class ConversionJob {
  public:
    ConversionJob();
    ~ConversionJob();
    ConversionJob(const ConversionJob&) = delete;
    ConversionJob& operator=(const ConversionJob&) = delete;

    // The job's entries, with each one's output name and result once it has
    // run.
    std::vector<JobEntry> jobTable;
    // The output manager's records: at most kMaxOutputRecords, one per entry
    // that had an output; jobTable tells about every entry. Emptied when the
    // job runs.
    std::vector<OutputRecord> outputRecords;
    // Output names fixed by the caller, by job index (a joined output: index
    // 0); an entry without one (or an empty one) gets its time-stamped name.
    // The names are still never given twice in a job.
    std::vector<std::string> outputNames;
    // Outputs replace a file of their name (once they are finished) instead of
    // taking the next free name; off unless the caller asks for it.
    bool outputsReplace = false;
    // The tags the outputs carry: each source's own (a joined output: those
    // its sources share), none, or the caller's values over them.
    TagOptions tagOptions;

    // Builds the job table from the selected rows of the media list and
    // derives the output format, without starting anything. 0 when the job
    // has entries; negative when it cannot run (message shown).
    int prepare();
    // Runs the job on the calling thread: loads the libraries its entries
    // need, opens the device, converts every entry and releases all. Sets
    // `running` for its time and clears it at the end. 0 when it ran;
    // kJobBusy (nothing done, no message) while another job runs.
    int run();
    // True while run() is working.
    bool active() const;
    // True while some job of the process is running.
    static bool anyActive();

    // The output being written: its stream and name, and the writer's and
    // encoder's state.
    struct Output;

  private:
    void runEntry(JobEntry& e, Output& out, int progressMax);
    std::unique_ptr<Output> out_;
    // The playing time of the entries converted so far in this job, seconds.
    int convertedSeconds_ = 0;
    PcmBuffer pcm_; // what the job's readers decode into
};

// The one job of the window (and of the command line): the functions below
// drive it.
ConversionJob& mainJob();

// mainJob().prepare().
int prepareJob();
// Prepares the main job and starts its thread. 0 when started; negative when
// nothing started (message shown).
int start_conversion();
// Waits for the conversion thread to end.
void waitConversion();
// The thread body (also callable directly): runs the main job; returns 0, or
// kJobBusy when another job was running.
int conversion_thread();

} // namespace kestrel
