#include "orvoplay/orvoplay.h"

#include <cstdio>
#include <cstring>

// The player program, embedded at build time.
#define ORVOPLAY_STR2(x) #x
#define ORVOPLAY_STR(x) ORVOPLAY_STR2(x)
__asm__(".section .rodata\n"
        ".balign 16\n"
        ".globl orvoplay_player_start\n"
        ".hidden orvoplay_player_start\n"
        "orvoplay_player_start:\n"
        ".incbin \"" ORVOPLAY_STR(ORVOPLAY_PLAYER_FILE) "\"\n"
                                                        ".globl orvoplay_player_end\n"
                                                        ".hidden orvoplay_player_end\n"
                                                        "orvoplay_player_end:\n"
                                                        ".previous\n");

// The start and end of the player's bytes (labels of the assembly above).
extern "C" const unsigned char orvoplay_player_start[] __attribute__((visibility("hidden")));
extern "C" const unsigned char orvoplay_player_end[] __attribute__((visibility("hidden")));

namespace {

const unsigned char* player() {
    return orvoplay_player_start;
}
long playerBytes() {
    return orvoplay_player_end - orvoplay_player_start;
}

int writeFile(const char* path, const unsigned char* data, int length) {
    if (!path || length < 0 || (length > 0 && !data)) return -1;
    FILE* f = std::fopen(path, "wb");
    if (!f) return -1;
    bool ok = std::fwrite(player(), 1, static_cast<size_t>(playerBytes()), f) ==
                  static_cast<size_t>(playerBytes()) &&
              (length == 0 ||
               std::fwrite(data, 1, static_cast<size_t>(length), f) == static_cast<size_t>(length));
    ok = std::fclose(f) == 0 && ok;
    if (!ok) std::remove(path);
    return ok ? 0 : -1;
}

} // namespace

static_assert(ORVOPLAY_PIECES * ORVOPLAY_PIECE_BUFFER >= ORVOPLAY_PLAYER_BYTES);

extern "C" int orvo_getexedata(int piece, unsigned char* buffer) {
    if (piece < 1 || piece > ORVOPLAY_PIECES || !buffer) return -1;
    long at = static_cast<long>(piece - 1) * ORVOPLAY_PIECE_BUFFER;
    long n = playerBytes() - at;
    if (n < 0) n = 0;
    if (n > ORVOPLAY_PIECE_BUFFER) n = ORVOPLAY_PIECE_BUFFER;
    if (n > 0) std::memcpy(buffer, player() + at, static_cast<size_t>(n));
    return static_cast<int>(n);
}

extern "C" int orvo_writeexedata(const char* path, const unsigned char* data, int length) {
    return writeFile(path, data, length);
}

extern "C" int orvo_writeexefile(const char* path) {
    return writeFile(path, nullptr, 0);
}
