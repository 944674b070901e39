// dlopen/dlsym in place of LoadLibrary/GetProcAddress: libraries are opened by
// file name from libraryFolder().
#pragma once

#include <string>

namespace kestrel {

// Opens <libraryFolder()>/<fileName>; nullptr when it cannot be loaded.
void* openLibrary(const std::string& fileName);
void* librarySymbol(void* handle, const char* name);
void closeLibrary(void* handle);
// dlerror() text of the last failure, for debug output.
std::string libraryError();

} // namespace kestrel
