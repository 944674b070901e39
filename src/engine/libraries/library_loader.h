// Loading of the run-time codec libraries.
//
// Each library is a shared object <name>.so in the program's library folder,
// opened by file name and bound by export name, all or nothing: when the file
// or any export is missing the loader shows its message, closes the library and
// returns a negative value; the caller gives up without a further message.
//
// A binding lists the exports in loader order; the number shown in an
// "export missing" message is the export's position (first + index) printed
// with `numberFormat`.
#pragma once

#include <string>
#include <vector>

namespace kestrel {

enum class LoaderStyle {
    Standard, // "装载动态库X错误" / "取函数NN错误，请检查是否该版本动态库"
    Effects,  // "装载动态库X错误" / "取X函数NN错误，请检查是否该版本动态库"
    Ac3,      // "装载AC3STREAM.SO错误" / "AC3动态库过程调用N错误"
    Player,   // "装载X 文件出错" / "装载X 文件函数N出错"
    Inflator, // "load X error" / "load proc error"
};

struct ExportSlot {
    const char* name;
    void** target;         // receives the symbol address
    bool optional = false; // an addition of a later library: missing, it stays null
};

struct LibraryBinding {
    const char* fileName; // e.g. "mxscan.so"
    LoaderStyle style = LoaderStyle::Standard;
    const char* numberFormat = "%02d";
    int firstNumber = 1;
    std::vector<ExportSlot> exports;
    void* handle = nullptr;
    int loads = 0; // successful loads not yet matched by an unload
};

// Binds every export; >= 0 on success. Loads are counted: loading a library
// that is already loaded only counts, and the library is released when every
// successful load has been matched by an unload, so that an analysis and a
// playback that overlap never pull a library from under each other.
// Thread-safe.
int loadLibrary(LibraryBinding& lib);
// Matches one load; the last one clears every bound pointer and closes the
// library. Safe when not loaded.
void unloadLibrary(LibraryBinding& lib);
bool isLoaded(const LibraryBinding& lib);
// How many times the library `fileName` (e.g. "ac3stream.so") has been opened
// by this process: each time it went from not loaded to loaded.
int libraryOpenCount(const std::string& fileName);

// The texts a failure shows (for tests and for callers that report otherwise).
std::string libraryMissingText(const LibraryBinding& lib);
std::string exportMissingText(const LibraryBinding& lib, int index);

// Binds a typed function pointer into an ExportSlot.
template <typename Fn> ExportSlot bindExport(const char* name, Fn*& target) {
    return ExportSlot{name, reinterpret_cast<void**>(&target)};
}
// The same for an export the caller can do without: a library that lacks it
// still loads, and the pointer stays null.
template <typename Fn> ExportSlot bindOptionalExport(const char* name, Fn*& target) {
    return ExportSlot{name, reinterpret_cast<void**>(&target), true};
}

} // namespace kestrel
