// Playback: the play request reads an entry's facts from the list, derives
// the output format and starts the playback thread of the entry's type. The
// threads read and decode like the conversion routes and call the same
// pcm_sink with `converting` cleared, so what is heard is what a conversion
// would write.
//
// Threading: playRequest and the transport commands run on the window's
// thread; one playback thread at a time.
#pragma once

#include "engine/catalogue/media_record.h"
#include "engine/core/entry_facts.h"
#include "engine/core/run_state.h"
#include "engine/pipeline/wave_out_ring.h"

#include <cstdint>
#include <string>

namespace kestrel {

enum class PlayerKind {
    None,
    MpegAudio,
    MpegStream,
    Avi,
    WindowsMedia,
    DirectShow,
    Aac,
    Mp4,
    Amr,
    Swf,
    MtvAmv,
    Flv
};

PlayerKind playerFor(const std::string& typeName, MediaKind kind);

// Plays list row `index` (the first row when out of range). 0 when a thread
// started; negative when nothing started (a busy player shows its message;
// a type without a player here starts nothing).
int playRequest(int index);
// Waits for the playback thread to end.
void waitPlayback();
// True from a successful playRequest until its thread has ended.
bool playbackActive();
// How the last playback ended: 0 it played (to its end or until stopped);
// negative when it could not start (its message has been shown).
int playbackResult();

// Where a second player's sound goes.
class PcmDevice {
  public:
    virtual ~PcmDevice() = default;
    // 16-bit PCM at `rate` x `channels`; 0 when open.
    virtual int open(int rate, int channels) = 0;
    virtual void write(const uint8_t* pcm, int bytes) = 0;
    virtual void close() = 0;
};

// A device ring of its own (the output manager's ring sizing), stopped by the
// player's own running flag.
class RingDevice : public PcmDevice {
  public:
    explicit RingDevice(std::atomic<bool>& runFlag) : ring_(runFlag, RingSizing::Fixed20x2048) {}
    int open(int rate, int channels) override;
    void write(const uint8_t* pcm, int bytes) override;
    void close() override;

  private:
    WaveOutRing ring_;
};

// What a second player's play returns besides 0.
inline constexpr int kSecondPlayerNoPlayer = -2; // not an MPEG audio file or MPEG stream
inline constexpr int kSecondPlayerNoAc3 = -3;    // AC-3 sound: its library is the main player's
inline constexpr int kSecondPlayerFailed = -1;   // library, device or source could not be opened

// A player beside the main one (the output manager's): it may play while the
// main player or a conversion runs. It has its own run flags (the window's
// stop, pause and seek do not reach it), its own reader on MPEG audio library
// instance kSecondLibraryInstance, and hands the decoded PCM unchanged (the
// source's rate and channels) to its device. It does not use the PCM stage
// (rate changer, effects, meters, display: one per process, the main
// worker's) nor the AC-3 library (one decoder per process): AC-3 sound is
// refused with kSecondPlayerNoAc3. One play at a time per object.
class SecondPlayer {
  public:
    explicit SecondPlayer(PcmDevice& device) : device_(device) {}
    // Plays the entry to its end or until stop(); on the caller's thread.
    int play(const EntryFacts& entry);
    void stop() { flags_.running = false; }
    OwnRunFlags& flags() { return flags_; }

  private:
    PcmDevice& device_;
    OwnRunFlags flags_;
};

// Transport commands.
void stopCommand();
void pauseCommand();
void seekCommand(int second); // the position slider released at `second`
void dragCommand(int second); // the position slider moved to `second`
void recordToggleCommand();   // pause or resume writing the output
// The sound and display switches (`checked` = switched off).
void soundSwitchCommand(bool checked);
void displaySwitchCommand(bool checked);
// Encode-gain sliders 0..80 and playback-volume sliders 1..65500.
void gainSliderCommand(bool left, int position);
void volumeSliderCommand(bool left, int position);
// Shows or hides the sound-effects window.
void effectsWindowCommand();

} // namespace kestrel
