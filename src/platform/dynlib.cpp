#include "platform/dynlib.h"

#include "platform/paths.h"

#include <dlfcn.h>

namespace kestrel {

void* openLibrary(const std::string& fileName) {
    std::string path = libraryFolder() + "/" + fileName;
    return ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* librarySymbol(void* handle, const char* name) {
    if (!handle) return nullptr;
    return ::dlsym(handle, name);
}

void closeLibrary(void* handle) {
    if (handle) ::dlclose(handle);
}

std::string libraryError() {
    const char* e = ::dlerror();
    return e ? e : "";
}

} // namespace kestrel
