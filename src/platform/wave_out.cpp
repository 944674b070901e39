#include "platform/wave_out.h"

#include <SDL.h>

#include <atomic>
#include <mutex>

namespace kestrel {
namespace {

// SDL's audio subsystem is reference-counted but not thread-safe: every
// init/quit/open/close goes through this lock. The subsystem is started for
// each open device (and each count) and stopped with it, so SDL_AUDIODRIVER is
// read afresh whenever no device is open.
std::mutex g_sdlLock;

// Holds g_sdlLock for a sequence of SDL calls. SDL keeps data of the calling
// thread (its error text) that it frees by itself only in threads it created;
// ours call it from their own threads, so the sequence ends by freeing it.
class SdlLock {
  public:
    SdlLock() : lock_(g_sdlLock) {}
    ~SdlLock() { SDL_TLSCleanup(); }
    SdlLock(const SdlLock&) = delete;
    SdlLock& operator=(const SdlLock&) = delete;

  private:
    std::lock_guard<std::mutex> lock_;
};

bool startAudioLocked() {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    return SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
}

void stopAudioLocked() {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

// SDL's period in frames: the power of two nearest to 50 ms. SDL re-blocks
// other sizes through a stream that the dummy and disk drivers, which pace
// themselves by sleeping one device period, then underfeed.
Uint16 periodFrames(int rate) {
    const double want = rate / 20.0;
    Uint16 frames = 64;
    while (frames < 8192 && frames * 2 - want < want - frames)
        frames = static_cast<Uint16>(frames * 2);
    return frames;
}

class SdlWaveOut : public WaveOutDevice {
  public:
    ~SdlWaveOut() override { close(); }

    int open(int rate, int channels, WaveOutPull pull, void* user) override {
        close();
        if (rate <= 0 || channels < 1 || channels > 2 || !pull) return -1;
        SdlLock lock;
        if (!startAudioLocked()) return -1;
        audio_ = true;
        pull_ = pull;
        user_ = user;
        want_ = SDL_AudioSpec{};
        want_.freq = rate;
        want_.format = AUDIO_S16SYS;
        want_.channels = static_cast<Uint8>(channels);
        want_.samples = periodFrames(rate);
        want_.callback = &SdlWaveOut::callback;
        want_.userdata = this;
        id_ = openLocked();
        if (id_ == 0) {
            stopLocked();
            return -1;
        }
        return 0;
    }

    int start() override {
        SdlLock lock;
        if (id_ == 0) return -1;
        SDL_PauseAudioDevice(id_, 0);
        return 0;
    }

    void close() override {
        SdlLock lock;
        stopLocked();
    }

  private:
    SDL_AudioDeviceID openLocked() {
        SDL_AudioSpec have{};
        // No allowed changes: SDL converts to whatever the card takes.
        return SDL_OpenAudioDevice(nullptr, 0, &want_, &have, 0);
    }

    void stopLocked() {
        if (id_ != 0) SDL_CloseAudioDevice(id_); // joins SDL's audio thread
        id_ = 0;
        if (audio_) stopAudioLocked();
        audio_ = false;
    }

    static void SDLCALL callback(void* userdata, Uint8* stream, int len) {
        auto* self = static_cast<SdlWaveOut*>(userdata);
        self->pull_(self->user_, stream, len);
    }

    SDL_AudioDeviceID id_ = 0;
    bool audio_ = false; // holds a reference on SDL's audio subsystem
    SDL_AudioSpec want_{};
    WaveOutPull pull_ = nullptr;
    void* user_ = nullptr;
};

std::unique_ptr<WaveOutDevice> makeSdl() {
    return std::make_unique<SdlWaveOut>();
}

std::atomic<WaveOutDeviceFactory> g_factory{&makeSdl};

} // namespace

int waveOutDeviceCount() {
    SdlLock lock;
    if (!startAudioLocked()) return 0;
    int n = SDL_GetNumAudioDevices(0);
    stopAudioLocked();
    return n > 0 ? n : 0;
}

std::unique_ptr<WaveOutDevice> makeWaveOutDevice() {
    return g_factory.load()();
}

void setWaveOutDeviceFactory(WaveOutDeviceFactory factory) {
    g_factory = factory ? factory : &makeSdl;
}

} // namespace kestrel
