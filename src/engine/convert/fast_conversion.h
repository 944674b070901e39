// Fast conversion: copies the MPEG audio frames of an MPEG program or
// transport stream, or of an MPEG audio file, unchanged into an .mp3 file.
#pragma once

#include "engine/catalogue/media_record.h"
#include "engine/core/entry_facts.h"

#include <cstdint>
#include <string>

namespace kestrel {

// The source entry and where the output goes.
// The entry's facts (a fileSize of 0 is taken from the file; durationSec
// serves progress and seeking) and where the copy goes.
struct FastSource : EntryFacts {
    std::string savePath; // output folder with its trailing "/"
};

enum class FastStatus {
    Done,         // the whole source was copied
    Stopped,      // stopped by the user; the frames copied so far are kept
    Busy,         // another worker was running; nothing done
    SameAsSource, // the output would replace the source; refused
    OutputFailed, // the output could not be created
    SourceFailed, // the source could not be opened
    WriteFailed,  // writing failed; the partial output was removed
};

struct FastOutcome {
    FastStatus status = FastStatus::Busy;
    std::string outputPath;
    uint64_t bytesWritten = 0;
    uint64_t frames = 0;
    // No frame was copied and a file of the output's name already existed:
    // that file was left as it was.
    bool keptEarlier = false;
    // A copy that was stopped went beside the earlier file of its name, which
    // stays (outputPath is where the copy is).
    std::string besideOf;
};

// Kinds fast conversion accepts: 0, 3 (transport stream), 6 (program or PES
// stream with MPEG audio) and 10 (MPEG audio).
bool fastConversionSupported(MediaKind kind);
// Shows "不支持该类型文件的快速转换" and returns -1 for other kinds; 0 otherwise.
int checkFastConversionKind(MediaKind kind);

// save path + the source's base name + ".mp3".
std::string fastOutputPath(const FastSource& src);

// The worker: copies the frames, drives the window controls and the status
// line, and honours `running`, `paused` and `seek_request`. The output is
// written to a temporary file in the output folder and renamed when the copy
// ends or is stopped, so a failed copy never destroys an earlier output.
// Returns 0.
int fast_conversion_thread(const FastSource& src, FastOutcome* outcome = nullptr);

} // namespace kestrel
