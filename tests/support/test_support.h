// Shared helpers for the test suites.
#pragma once

#include "platform/ports.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace kestrel::test {

// Path of a test media file made by tests/fixtures/make.sh.
std::string fixture(const std::string& name);
bool haveFixture(const std::string& name);

// A fresh empty directory under the system temp folder, removed by the destructor.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

std::vector<uint8_t> readFile(const std::string& path);
void writeFile(const std::string& path, const std::vector<uint8_t>& bytes);
void writeFile(const std::string& path, const std::string& bytes);
// A VCD track as read from a disc: RIFF/CDXA with raw 2352-byte sectors, each
// holding one 2324-byte pack of `ps` (whose size is a multiple of 2324)
// behind its sync, header and subheader.
std::vector<uint8_t> cdxaTrack(const std::vector<uint8_t>& ps);

// Makes `dir` the current folder, with $PWD naming it as a shell would, until
// the object goes out of scope.
class CurrentFolder {
  public:
    explicit CurrentFolder(const std::string& dir);
    ~CurrentFolder();
    CurrentFolder(const CurrentFolder&) = delete;
    CurrentFolder& operator=(const CurrentFolder&) = delete;

  private:
    std::string old_, oldPwd_;
};

// Records every message box; YesNo questions get `answer`.
class RecordingMessages : public MessagePort {
  public:
    struct Entry {
        std::string caption, text;
        int systemError = 0; // the errno of a failed system call's message
    };
    RecordingMessages();
    ~RecordingMessages() override;
    MsgAnswer show(const std::string& caption, const std::string& text, MsgButtons buttons,
                   MsgAnswer fallback) override;
    void showFailure(const std::string& caption, const std::string& text, int systemError) override;
    std::vector<Entry> entries() const;
    std::string lastText() const;
    void clear();
    MsgAnswer answer = MsgAnswer::Yes;

  private:
    mutable std::mutex m_;
    std::vector<Entry> entries_;
};

// Runs a shell command, returns its exit status.
int run(const std::string& command);
// Runs a shell command and returns its standard output.
std::string capture(const std::string& command);

// In a transport stream of 188-byte packets, moves every program map packet
// of PID 0x1001 ahead of a 0x1000 one directly before it (the second
// program's map then comes first). Returns how many were moved.
int putSecondProgramMapsFirst(std::vector<uint8_t>& ts);

// The 16-bit samples a playback into SDL's disk driver wrote.
std::vector<int16_t> diskSamples(const std::string& path);

// How a playback's samples compare with what a conversion wrote: from the
// first non-zero sample of each, every sample of `expected` but the last
// `tail` (what may still sit in the ring when it stops) must come in `played`
// in order. A device that ran dry meanwhile (on a loaded machine) played
// silence in between: zeros in `played` where `expected` has sound are
// skipped and counted, never taken for the sound itself.
struct PlaybackComparison {
    size_t compared = 0; // samples of `expected` matched or mismatched
    size_t mismatches = 0;
    size_t insertedSilence = 0; // zeros skipped in `played`
    bool complete = false;      // every sample up to the tail was found
};
PlaybackComparison comparePlayback(const std::vector<int16_t>& expected,
                                   const std::vector<int16_t>& played, size_t tail);

// `s` (interleaved, `channels` per frame) without its runs of at least
// `minFrames` silent frames: the gaps a device that ran dry played, for
// comparisons by signal-to-noise ratio (the sound compared has no silence of
// its own that long).
std::vector<int16_t> withoutDropouts(const std::vector<int16_t>& s, int channels,
                                     size_t minFrames = 64);

// Duration in seconds of a media file as ffprobe reads its container (0
// when it gives none).
double ffprobeDuration(const std::string& path);

// What a command gave: exit status, standard output and error apart.
struct CommandResult {
    int status = -1;
    std::string out, err;
};
// Runs a shell command with stdin from /dev/null, its two outputs kept apart.
CommandResult runApart(const std::string& command);

} // namespace kestrel::test
