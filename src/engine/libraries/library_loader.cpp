#include "engine/libraries/library_loader.h"

#include "engine/core/captions.h"
#include "engine/libraries/texts.h"
#include "platform/dynlib.h"
#include "platform/ports.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>

namespace kestrel {
namespace {

std::string format1(const char* fmt, const std::string& a) {
    char buf[512];
    std::snprintf(buf, sizeof buf, fmt, a.c_str());
    return buf;
}

std::string format2(const char* fmt, const std::string& a, const std::string& b) {
    char buf[512];
    std::snprintf(buf, sizeof buf, fmt, a.c_str(), b.c_str());
    return buf;
}

void clearSlots(LibraryBinding& lib) {
    for (auto& e : lib.exports)
        *e.target = nullptr;
}

} // namespace

std::string libraryMissingText(const LibraryBinding& lib) {
    switch (lib.style) {
    case LoaderStyle::Ac3:
        return text::kAc3LoadFailed;
    case LoaderStyle::Player:
        return format1(text::kPlayerLoadFailed, lib.fileName);
    case LoaderStyle::Inflator:
        return format1(text::kInflatorLoadFailed, lib.fileName);
    default:
        return format1(text::kLoadLibraryFailed, lib.fileName);
    }
}

std::string exportMissingText(const LibraryBinding& lib, int index) {
    char num[32];
    std::snprintf(num, sizeof num, lib.numberFormat, lib.firstNumber + index);
    switch (lib.style) {
    case LoaderStyle::Effects:
        return format2(text::kEffectsExportMissing, lib.fileName, num);
    case LoaderStyle::Ac3:
        return format1(text::kAc3ExportMissing, num);
    case LoaderStyle::Player:
        return format2(text::kPlayerExportMissing, lib.fileName, num);
    case LoaderStyle::Inflator:
        return text::kInflatorExportMissing;
    default:
        return format1(text::kExportMissing, num);
    }
}

std::mutex& loaderMutex() {
    static std::mutex m;
    return m;
}

namespace {

// Opens by file name, guarded by loaderMutex().
std::map<std::string, int>& openCounts() {
    static std::map<std::string, int> counts;
    return counts;
}

} // namespace

int libraryOpenCount(const std::string& fileName) {
    std::lock_guard<std::mutex> lock(loaderMutex());
    auto it = openCounts().find(fileName);
    return it == openCounts().end() ? 0 : it->second;
}

int loadLibrary(LibraryBinding& lib) {
    std::lock_guard<std::mutex> lock(loaderMutex());
    if (lib.handle) {
        ++lib.loads;
        return 0;
    }
    void* h = openLibrary(lib.fileName);
    if (!h) {
        if (std::getenv("KESTREL_DEBUG"))
            std::fprintf(stderr, "dlopen %s: %s\n", lib.fileName, libraryError().c_str());
        showMessage(caption::kMain, libraryMissingText(lib));
        return -1;
    }
    for (size_t i = 0; i < lib.exports.size(); ++i) {
        void* sym = librarySymbol(h, lib.exports[i].name);
        if (!sym && !lib.exports[i].optional) {
            clearSlots(lib);
            closeLibrary(h);
            showMessage(caption::kMain, exportMissingText(lib, static_cast<int>(i)));
            return -2;
        }
        *lib.exports[i].target = sym;
    }
    lib.handle = h;
    lib.loads = 1;
    ++openCounts()[lib.fileName];
    return 0;
}

void unloadLibrary(LibraryBinding& lib) {
    std::lock_guard<std::mutex> lock(loaderMutex());
    if (lib.loads > 1) {
        --lib.loads;
        return;
    }
    lib.loads = 0;
    clearSlots(lib);
    closeLibrary(lib.handle);
    lib.handle = nullptr;
}

bool isLoaded(const LibraryBinding& lib) {
    std::lock_guard<std::mutex> lock(loaderMutex());
    return lib.handle != nullptr;
}

} // namespace kestrel
