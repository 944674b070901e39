// The sound card, on SDL2 audio.
//
// A WaveOutDevice plays 16-bit signed native-endian PCM at a given rate and
// channel count. It does not buffer anything itself: once started, it calls the
// pull function on its own thread (SDL's audio thread) whenever the card wants
// more sound, and the caller fills exactly the bytes asked for (silence when it
// has nothing). It opens stopped, so that playing begins with the first sound
// rather than with silence (SDL may still play one period of silence first).
// The buffer ring of the players (engine/pipeline/wave_out_ring.h) sits on top
// of this.
//
// Driver choice is SDL's: SDL_AUDIODRIVER picks one by name. SDL never falls
// back to its "dummy" or "disk" drivers by itself, so a machine without a sound
// card reports 0 devices unless SDL_AUDIODRIVER=dummy (or disk) is set; the
// test suite sets dummy.
//
// Threading: open, start, close and waveOutDeviceCount may be called from any
// thread; the SDL calls are serialised inside. The pull function runs on the
// device's thread and must not call back into the device. Drivers that serve
// one device only (SDL's dummy and disk) refuse a second open device; sound
// servers take both players' rings at once.
#pragma once

#include <cstdint>
#include <memory>

namespace kestrel {

// Fills `len` bytes at `out`; runs on the device's own thread.
using WaveOutPull = void (*)(void* user, uint8_t* out, int len);

class WaveOutDevice {
  public:
    virtual ~WaveOutDevice() = default;
    // Opens the default output for 16-bit PCM with `channels` (1 or 2) at `rate`
    // Hz, stopped. 0 on success, negative when no device can be opened.
    virtual int open(int rate, int channels, WaveOutPull pull, void* user) = 0;
    // Starts pulling (once; further calls return 0). Negative when the device
    // cannot be started; it must then be closed.
    virtual int start() = 0;
    // Stops the device: once it returns, `pull` is never called again. Does
    // nothing when the device is not open.
    virtual void close() = 0;
};

// Number of audio output devices the selected SDL driver reports; 0 when audio
// cannot be started at all.
int waveOutDeviceCount();

// A new, closed device of the installed kind (SDL unless replaced below).
std::unique_ptr<WaveOutDevice> makeWaveOutDevice();

// Replaces the kind of device makeWaveOutDevice() makes (nullptr: SDL again).
using WaveOutDeviceFactory = std::unique_ptr<WaveOutDevice> (*)();
void setWaveOutDeviceFactory(WaveOutDeviceFactory factory);

} // namespace kestrel
