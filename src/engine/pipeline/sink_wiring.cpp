#include "engine/pipeline/sink_wiring.h"

#include "engine/pipeline/pcm_stage.h"
#include "engine/pipeline/display_feed.h"
#include "engine/pipeline/wave_out_ring.h"
#include "engine/settings/settings.h"
#include "platform/wave_out.h"

#include <atomic>

namespace kestrel {

namespace {

std::atomic<double> g_ratio{1.0};

// The meters and the display are fed only while the window shows them.
void meterHook(const uint8_t* pcm, int bytes) {
    if (!meters_on.load(std::memory_order_relaxed)) return;
    int ch = outputFormat.out_channels;
    meter_feed(reinterpret_cast<const int16_t*>(pcm), bytes / (2 * ch), ch, outputFormat.out_rate);
}

void playHook(const uint8_t* pcm, int bytes) {
    mainWaveOut().write(pcm, static_cast<uint32_t>(bytes));
}

void displayHook(const uint8_t* pcm, int bytes) {
    if (!meters_on.load(std::memory_order_relaxed)) return;
    displayFeed(pcm, bytes, outputFormat.out_channels, g_ratio.load());
}

} // namespace

void setWiredRateRatio(double rateRatio) {
    g_ratio = rateRatio;
}

void wirePcmSink(double rateRatio) {
    g_ratio = rateRatio;
    pcmHooks.meter = meterHook;
    pcmHooks.play = playHook;
    pcmHooks.display = displayHook;
}

int openMainDevice(int rate, int channels, bool optional) {
    if (optional && waveOutDeviceCount() == 0) return 0;
    WaveFormat fmt;
    fmt.rate = rate;
    fmt.channels = channels;
    int rc = mainWaveOut().open(fmt);
    if (rc != 0 && optional) return 0;
    return rc == 0 ? 0 : -1;
}

void closeMainDevice() {
    mainWaveOut().close();
}

bool mainDeviceOpen() {
    return mainWaveOut().isOpen();
}

} // namespace kestrel
