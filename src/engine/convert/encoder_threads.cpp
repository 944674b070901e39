#include "engine/convert/encoder_threads.h"

#include "engine/settings/settings.h"
#include "platform/cores.h"

#include <algorithm>
#include <atomic>

namespace kestrel {

namespace {

std::atomic<int> g_encoderThreads{0};

constexpr int kSpreadSeconds = 60;

} // namespace

void set_encoder_threads(int threads) {
    g_encoderThreads.store(std::clamp(threads, 0, kMaxEncoderThreads));
}

int encoder_threads() {
    const int n = g_encoderThreads.load();
    return n > 0 ? n : std::min(availableCores(), kMaxEncoderThreads);
}

int encoderThreadsFor(int seconds) {
    if (settings.conversion_mode != 2 || seconds <= kSpreadSeconds) return 1;
    return encoder_threads();
}

} // namespace kestrel
