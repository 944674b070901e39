// The sound device opened and closed from threads of the program's own, as
// the players do: each open leaves no memory behind once its thread is gone.
#include "platform/wave_out.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <malloc.h>
#include <thread>

namespace {

void silence(void*, uint8_t* out, int len) {
    std::fill(out, out + len, uint8_t{0});
}

void openAndCloseInAThread() {
    std::thread([] {
        auto device = kestrel::makeWaveOutDevice();
        ASSERT_EQ(device->open(44100, 2, &silence, nullptr), 0);
        EXPECT_EQ(device->start(), 0);
        device->close();
    }).join();
}

} // namespace

TEST(WaveOut, OpeningFromAThreadLeavesNoMemoryBehind) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    // One heap for every thread, so that the main heap's figures count all.
    ASSERT_EQ(mallopt(M_ARENA_MAX, 1), 1);
    openAndCloseInAThread(); // SDL loads its drivers once
    openAndCloseInAThread();
    const size_t before = mallinfo2().uordblks;
    for (int i = 0; i < 8; ++i)
        openAndCloseInAThread();
    EXPECT_EQ(mallinfo2().uordblks, before);
}
