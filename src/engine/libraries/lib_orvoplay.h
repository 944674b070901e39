// Program side of orvoplay.so, the player program that a self-playing EXE
// output starts with: typed entry points bound at load time. Loaded at
// start-up for the whole run. Its messages are its own
// ("装载orvoplay.so 文件出错", "装载orvoplay.so 文件函数N出错", N from 0).
#pragma once

namespace kestrel {

struct OrvoplayApi {
    // Writes the player with its data to a file (resolved, not called).
    int (*orvo_writeexedata)(const char* path, const unsigned char* data, int length) = nullptr;
    int (*orvo_writeexefile)(const char* path) = nullptr;
    // Copies piece `piece` (1..7) of the player program into `buffer`
    // (82020 bytes); returns its byte count.
    int (*orvo_getexedata)(int piece, unsigned char* buffer) = nullptr;
};
extern OrvoplayApi orvoplay;

int loadOrvoplay();
void unloadOrvoplay();
bool orvoplayLoaded();

} // namespace kestrel
