#include "engine/core/run_state.h"

#include <cmath>
#include <memory>

namespace kestrel {

std::atomic<bool> running{false};
std::atomic<bool> paused{false};
std::atomic<bool> converting{false};
std::atomic<bool> sound_on{true};
std::atomic<bool> display_on{true};
std::atomic<int32_t> seek_request{0};
std::atomic<bool> seek_dragging{false};
std::atomic<bool> effects_window_on{false};

PcmBuffer::PcmBuffer() : bytes_(new uint8_t[kPcmBufferBytes]()) {}

PcmBuffer& mainPcm() {
    static PcmBuffer buffer;
    return buffer;
}

int32_t& pcm_pending = mainPcm().pending;

RunFlags processRunFlags() {
    return {running, paused, seek_request, seek_dragging};
}
CurrentEntry current;
double rateRatio = 1.0;
std::atomic<double> gain_left{1.0};
std::atomic<double> gain_right{1.0};

uint8_t* pcm_buffer() {
    return mainPcm().data();
}

double gainFromSlider(int position) {
    double g = std::pow(10.0, (position - 40) * 0.025);
    if (g > 0.95 && g < 1.05) g = 1.0;
    return g;
}

double makeRateRatio(int outRate, int sourceRate) {
    if (sourceRate <= 0 || outRate == sourceRate) return 1.0;
    return static_cast<double>(outRate) / sourceRate;
}

} // namespace kestrel
