// The wave-out buffer ring: the players' path to the sound card.
//
// A ring of equal-sized buffers that the producer fills by copying. A buffer
// goes to the device as soon as it is full; the device hands it back ("buffer
// done") once it has consumed all of its bytes. The producer is held back while
// fewer than two buffers are free, so the device's playback rate sets the pace
// of whoever writes. There are two owners, each with its own ring: the main
// player (mainWaveOut(), sized by the stream format, on the process-wide
// `running` flag) and the output manager's player (20 x 2048 bytes, on the
// player's own flag).
//
// Calling order for an owner: open -> any number of write -> close, all on the
// owner's producer thread. The owner's running flag is set before the first
// write; clearing it (from any thread) makes write drop the rest of its run and
// return, and stops it waiting. close lets the queued buffers play out first.
//
// Not open: before open, after close, and after a failed open the ring is
// closed; write then returns at once and close returns 0 without waiting, so a
// worker can run without any sound device (silent conversion on a machine
// without a sound card simply never opens the ring).
//
// Threading: write, close and open on the producer thread only. The device
// thread touches only freeCount (under `lock`) and the buffers the producer
// has sent. getVolume/setVolume may be called from any thread (the main
// window's volume sliders) and take effect within one device period.
//
// The device starts with the first buffer sent, so what it plays begins with
// the first written byte (after at most one device period of silence); after
// the last buffer it plays silence until close.
//
// Volume: a software gain per channel applied to the sound on its way to the
// device, on the 16-bit scale of the volume sliders: left in the low word,
// right in the high word, 0..65535 linear amplitude. Values from 65500 (the top
// of the sliders' 1..65500 range) upwards are full volume, where the bytes go
// to the device unchanged. The volume belongs to the ring and survives close
// and reopen, like a mixer setting. A new ring starts at full volume: the
// players place the sliders from getVolume() after each open, so the first
// playback shows them at their top and plays the sound unchanged (the sliders'
// start position 32000 is only what they show before the first playback; as a
// gain it would be -6 dB). Mono uses the left volume.
#pragma once

#include "platform/wave_out.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace kestrel {

inline constexpr int kWaveOutOpenFailed = -11; // no device could be opened
inline constexpr int kWaveOutNoMemory = -12;   // the ring could not be allocated
inline constexpr uint32_t kWaveOutFullVolume = 0xFFFFFFFFu;
inline constexpr uint32_t kWaveOutUnityLevel = 65500; // per channel, and above

// The stream format: always 16-bit PCM.
struct WaveFormat {
    int32_t rate = 44100; // samples per second
    int32_t channels = 2; // 1 or 2
};

enum class RingSizing {
    ByFormat,     // the main player: from channels x rate (waveOutSizing)
    Fixed20x2048, // the output manager's player
};

struct RingSize {
    uint32_t bufferSize;
    uint32_t bufferCount;
};

// The main player's sizing by p = channels x rate: p <= 8001 -> 10 x 1024,
// <= 22100 -> 10 x 2048, <= 44100 -> 10 x 4096, above -> 20 x 4096.
RingSize waveOutSizing(int rate, int channels);

class WaveOutRing {
  public:
    WaveOutRing(std::atomic<bool>& running, RingSizing sizing);
    ~WaveOutRing(); // closes (waiting for the queued buffers)
    WaveOutRing(const WaveOutRing&) = delete;
    WaveOutRing& operator=(const WaveOutRing&) = delete;

    // Allocates the ring and opens the device. 0; kWaveOutOpenFailed when no
    // device can be opened (or the format is not 16-bit mono/stereo at a
    // positive rate); kWaveOutNoMemory (after "Memory allocation error\n" on
    // stderr) when the ring cannot be allocated. On failure the ring stays
    // closed. An open ring is closed first.
    int open(const WaveFormat& format);

    // Copies `len` bytes into the ring, sending every buffer that fills (a run
    // that exactly fills the buffer sends it), and waits (10 ms polls) while
    // fewer than two buffers are free. Returns at once when the ring is not
    // open; returns early, dropping the rest, once the running flag reads 0.
    void write(const void* data, uint32_t len);

    // Waits (10 ms polls, regardless of the running flag) until every sent
    // buffer has come back, drops the partly filled current buffer, closes the
    // device and frees the ring. 0; does nothing when not open. A device that
    // stops handing buffers back for 2 s is given up on rather than waited
    // for forever.
    int close();

    bool isOpen() const { return device_ != nullptr; }

    // Left volume in the low word, right in the high word (see above).
    uint32_t getVolume() const { return volume_.load(); }
    void setVolume(uint32_t leftPlusRightTimes65536) { volume_ = leftPlusRightTimes65536; }

    // State, for the owner and for tests.
    uint32_t bufferSize() const { return buffer_size_; }
    uint32_t bufferCount() const { return buffer_count_; }
    int32_t freeCount() const;
    uint32_t current() const { return current_; }
    uint32_t fillLevel() const; // bytes in the buffer being filled

  private:
    static void pullThunk(void* self, uint8_t* out, int len);
    void pull(uint8_t* out, int len); // device thread
    bool waitFree(int32_t atLeast);   // producer; false when running was cleared
    void release();

    std::atomic<bool>& running_;
    RingSizing sizing_;
    std::unique_ptr<WaveOutDevice> device_; // null when closed
    WaveFormat format_{};
    uint32_t buffer_size_ = 0;
    uint32_t buffer_count_ = 0;
    std::unique_ptr<uint8_t[]> buffers_; // bufferCount x bufferSize, zero-filled
    std::vector<uint32_t> fill_;         // fill level per buffer (producer only)
    uint32_t current_ = 0;               // buffer being filled (producer only)
    bool started_ = false;               // the first buffer has been sent
    mutable std::mutex lock_;            // guards free_count_
    int32_t free_count_ = 0;
    // Device thread only: the oldest sent buffer and how much of it is played.
    uint32_t play_index_ = 0;
    uint32_t play_offset_ = 0;
    std::atomic<uint32_t> volume_{kWaveOutFullVolume};
};

// The main player's ring (process-wide, on `running`).
WaveOutRing& mainWaveOut();

} // namespace kestrel
