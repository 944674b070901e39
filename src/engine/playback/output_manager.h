// The output manager: the outputs the last conversion produced, each of which
// can be played, stopped and deleted, beside the main player.
//
// The table holds at most kManagedOutputMax records, replaced after every
// job. The player decodes an output by its output type on a thread of its own,
// into a device of its own (a ring of 20 x 2048 bytes by default), on run
// flags of its own: the main window's transport does not reach it, and it may
// play while the main player or a conversion runs.
//
// Threading: every call on the window's thread; the events are called from
// the player's thread (and from play() on the caller's thread).
#pragma once

#include "engine/playback/players.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace kestrel {

inline constexpr int kManagedOutputMax = 16;

// Output types as the conversion writes them.
enum ManagedOutputType : int32_t {
    kManagedMp3 = 0,
    kManagedExe = 1,
    kManagedWav = 2,
    kManagedWma = 3,
    kManagedRawAac = 4,
    kManagedAdts = 5,
    kManagedMp4 = 6,
    kManagedAmr = 7,
    kManagedFlv = 8,
    kManagedAvi = 9,
};

// What the manager knows of one output.
struct ManagedOutput {
    int32_t duration = 0; // seconds
    std::string sourcePath;
    int32_t outputType = kManagedMp3;
    std::string outputPath;
    int32_t outRate = 44100;
    int32_t outChannels = 2;
    int32_t mpegVersion = 0; // MP3 and EXE: 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
    uint32_t pcmBytes = 0;
};

// What play() and deleteRecord() return besides 0.
inline constexpr int kManagerNoRecord = -1;     // no record at that index
inline constexpr int kManagerBusy = -2;         // the manager is playing
inline constexpr int kManagerDeleteFailed = -3; // the file could not be removed
inline constexpr int kManagerNotPlayable = 1;   // raw AAC: its message was shown

// How the player reports. Called from the player's thread.
class OutputManagerEvents {
  public:
    virtual ~OutputManagerEvents() = default;
    virtual void statusText(const std::string& text) = 0;
    virtual void progress(int second, int total) = 0;
    // The output could not be opened (Stop and Delete no longer apply).
    virtual void openFailed() {}
    // The playback ended (played out, stopped or failed); `running` is clear.
    virtual void ended() {}
};

class OutputManager {
  public:
    // `device`: where the sound goes (null: a ring of the manager's own).
    explicit OutputManager(PcmDevice* device = nullptr);
    ~OutputManager(); // stops and waits for the player
    OutputManager(const OutputManager&) = delete;
    OutputManager& operator=(const OutputManager&) = delete;

    // Replaces the table by the first kManagedOutputMax of `records`.
    void setRecords(const std::vector<ManagedOutput>& records);
    const std::vector<ManagedOutput>& records() const { return records_; }

    // Removes the output's file and its record (later records move up).
    // kManagerBusy while playing; kManagerDeleteFailed (nothing removed) when
    // the file exists and cannot be removed.
    int deleteRecord(int index);

    // Starts playing record `index` on the player's thread. kManagerBusy while
    // playing; kManagerNotPlayable for raw AAC (message shown, nothing plays).
    int play(int index, OutputManagerEvents* events);
    // Clears `running`: the player ends at its next pass.
    void stop();
    // True from play() until the player has ended.
    bool playing() const { return flags_.running.load() || active_.load(); }
    // Waits for the player's thread.
    void wait();
    // How the last playback ended: 0 played (to its end or stopped), negative
    // when nothing could be played.
    int lastResult() const { return result_.load(); }

    // Set while the manager's window is shown; the main window's start
    // commands do nothing meanwhile.
    std::atomic<bool> shown{false};

  private:
    int playOutput(const ManagedOutput& r, OutputManagerEvents& ev);
    std::vector<ManagedOutput> records_;
    OwnRunFlags flags_;
    std::unique_ptr<PcmDevice> ownDevice_;
    PcmDevice* device_;
    std::thread thread_;
    std::atomic<bool> active_{false};
    std::atomic<int> result_{0};
};

} // namespace kestrel
