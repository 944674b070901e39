#include "engine/pipeline/wave_out_ring.h"

#include "engine/core/run_state.h"
#include "engine/pipeline/texts_device.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <thread>

namespace kestrel {
namespace {

constexpr auto kPoll = std::chrono::milliseconds(10);
constexpr auto kStallLimit = std::chrono::seconds(2);

// Gain of one channel's slider value: 1.0 (untouched) from the sliders' top up.
float levelGain(uint32_t level) {
    return level >= kWaveOutUnityLevel ? 1.0f : static_cast<float>(level) / 65535.0f;
}

void applyGain(uint8_t* bytes, uint32_t len, int channels, uint32_t volume) {
    const float gl = levelGain(volume & 0xFFFFu);
    const float gr = channels == 2 ? levelGain(volume >> 16) : gl;
    if (gl == 1.0f && gr == 1.0f) return;
    // Samples are 2-byte aligned within a buffer and a period, but go through
    // memcpy so that no alignment is assumed.
    for (uint32_t i = 0; i + 1 < len; i += 2) {
        int16_t s;
        std::memcpy(&s, bytes + i, 2);
        const float g = (channels == 2 && (i / 2) % 2 == 1) ? gr : gl;
        s = static_cast<int16_t>(static_cast<float>(s) * g); // |g| <= 1: no overflow
        std::memcpy(bytes + i, &s, 2);
    }
}

} // namespace

RingSize waveOutSizing(int rate, int channels) {
    const long long p = static_cast<long long>(channels) * rate;
    if (p <= 8001) return {1024, 10};
    if (p <= 22100) return {2048, 10};
    if (p <= 44100) return {4096, 10};
    return {4096, 20};
}

WaveOutRing::WaveOutRing(std::atomic<bool>& running, RingSizing sizing)
    : running_(running), sizing_(sizing) {}

WaveOutRing::~WaveOutRing() {
    close();
}

int WaveOutRing::open(const WaveFormat& format) {
    close();
    if (format.rate <= 0 || format.channels < 1 || format.channels > 2) return kWaveOutOpenFailed;
    const RingSize size = sizing_ == RingSizing::Fixed20x2048
                              ? RingSize{2048, 20}
                              : waveOutSizing(format.rate, format.channels);
    // One zero-filled allocation for the buffers, one small one for the fill
    // levels. Unlike a process exit, a failure here leaves every output the
    // caller is writing intact.
    buffers_.reset(new (std::nothrow) uint8_t[size.bufferSize * size.bufferCount]());
    if (!buffers_) {
        std::fputs(text::device::kNoMemory, stderr);
        return kWaveOutNoMemory;
    }
    try {
        fill_.assign(size.bufferCount, 0);
    } catch (const std::bad_alloc&) {
        buffers_.reset();
        std::fputs(text::device::kNoMemory, stderr);
        return kWaveOutNoMemory;
    }
    format_ = format;
    buffer_size_ = size.bufferSize;
    buffer_count_ = size.bufferCount;
    current_ = 0;
    started_ = false;
    play_index_ = 0;
    play_offset_ = 0;
    {
        std::lock_guard<std::mutex> g(lock_);
        free_count_ = static_cast<int32_t>(buffer_count_);
    }
    std::unique_ptr<WaveOutDevice> device = makeWaveOutDevice();
    if (!device || device->open(format.rate, format.channels, &WaveOutRing::pullThunk, this) < 0) {
        release();
        return kWaveOutOpenFailed;
    }
    device_ = std::move(device);
    return 0;
}

bool WaveOutRing::waitFree(int32_t atLeast) {
    for (;;) {
        if (!running_.load()) return false;
        {
            std::lock_guard<std::mutex> g(lock_);
            if (free_count_ >= atLeast) return true;
        }
        std::this_thread::sleep_for(kPoll);
    }
}

void WaveOutRing::write(const void* data, uint32_t len) {
    if (!device_) return;
    const uint8_t* src = static_cast<const uint8_t*>(data);
    while (len > 0 && running_.load()) {
        // The current buffer can still be at the device only when an earlier
        // write was cut short by the running flag with every buffer queued.
        if (!waitFree(1)) return;
        uint8_t* buf = buffers_.get() + static_cast<size_t>(current_) * buffer_size_;
        uint32_t& fill = fill_[current_];
        const uint32_t room = buffer_size_ - fill;
        if (len < room) {
            std::memcpy(buf + fill, src, len);
            fill += len;
            return;
        }
        std::memcpy(buf + fill, src, room);
        fill = buffer_size_;
        {
            std::lock_guard<std::mutex> g(lock_);
            --free_count_; // sent: the device plays it after the ones before it
        }
        if (!started_) {
            // The first sound starts the device. A device that cannot start
            // would never hand buffers back: the ring closes instead, and
            // the worker goes on without sound.
            if (device_->start() < 0) {
                device_->close();
                device_.reset();
                release();
                return;
            }
            started_ = true;
        }
        waitFree(2);
        current_ = (current_ + 1) % buffer_count_;
        fill_[current_] = 0;
        src += room;
        len -= room;
    }
}

int WaveOutRing::close() {
    if (!device_) return 0;
    auto lastChange = std::chrono::steady_clock::now();
    int32_t seen = -1;
    for (;;) {
        int32_t freeNow;
        {
            std::lock_guard<std::mutex> g(lock_);
            freeNow = free_count_;
        }
        if (freeNow >= static_cast<int32_t>(buffer_count_)) break;
        const auto now = std::chrono::steady_clock::now();
        if (freeNow != seen) {
            seen = freeNow;
            lastChange = now;
        } else if (now - lastChange > kStallLimit) {
            break; // the device has stopped playing: do not hang the worker
        }
        std::this_thread::sleep_for(kPoll);
    }
    device_->close();
    device_.reset();
    release();
    return 0;
}

void WaveOutRing::release() {
    buffers_.reset();
    fill_.clear();
    buffer_size_ = 0;
    buffer_count_ = 0;
    current_ = 0;
    std::lock_guard<std::mutex> g(lock_);
    free_count_ = 0;
}

int32_t WaveOutRing::freeCount() const {
    std::lock_guard<std::mutex> g(lock_);
    return free_count_;
}

uint32_t WaveOutRing::fillLevel() const {
    return fill_.empty() ? 0 : fill_[current_];
}

void WaveOutRing::pullThunk(void* self, uint8_t* out, int len) {
    static_cast<WaveOutRing*>(self)->pull(out, len);
}

void WaveOutRing::pull(uint8_t* out, int len) {
    const uint32_t volume = volume_.load();
    while (len > 0) {
        int32_t queued;
        {
            std::lock_guard<std::mutex> g(lock_);
            queued = static_cast<int32_t>(buffer_count_) - free_count_;
        }
        if (queued <= 0) {
            std::memset(out, 0, static_cast<size_t>(len)); // nothing sent: silence
            return;
        }
        const uint8_t* buf = buffers_.get() + static_cast<size_t>(play_index_) * buffer_size_;
        const uint32_t n =
            std::min<uint32_t>(static_cast<uint32_t>(len), buffer_size_ - play_offset_);
        std::memcpy(out, buf + play_offset_, n);
        applyGain(out, n, format_.channels, volume);
        out += n;
        len -= static_cast<int>(n);
        play_offset_ += n;
        if (play_offset_ == buffer_size_) {
            // Buffer done: every byte of it has gone to the device.
            play_offset_ = 0;
            play_index_ = (play_index_ + 1) % buffer_count_;
            std::lock_guard<std::mutex> g(lock_);
            ++free_count_;
        }
    }
}

WaveOutRing& mainWaveOut() {
    // Never destroyed: the ring may still be referenced by a worker at exit.
    static WaveOutRing* ring = new WaveOutRing(running, RingSizing::ByFormat);
    return *ring;
}

} // namespace kestrel
