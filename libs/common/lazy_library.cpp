#include "common/lazy_library.h"

#include "common/texts.h"

#include <cstdio>
#include <dlfcn.h>

namespace orvo {

LazyLibrary::LazyLibrary(const char* what, std::vector<const char*> sonames,
                         const char* const* names, size_t count)
    : what_(what), sonames_(std::move(sonames)), names_(names), count_(count) {}

void* const* LazyLibrary::functions() {
    std::call_once(once_, [this] { bind(); });
    return bound_ ? fn_.data() : nullptr;
}

void LazyLibrary::bind() {
    std::vector<void*> handles;
    for (const char* so : sonames_) {
        void* h = dlopen(so, RTLD_NOW | RTLD_LOCAL);
        if (!h) {
            const char* why = dlerror();
            std::fprintf(stderr, text::kLibraryNotLoaded, program_invocation_short_name, what_,
                         why ? why : so);
            return;
        }
        handles.push_back(h);
    }
    fn_.assign(count_, nullptr);
    for (size_t i = 0; i < count_; ++i) {
        for (void* h : handles) {
            if ((fn_[i] = dlsym(h, names_[i])) != nullptr) break;
        }
        if (!fn_[i]) {
            std::fprintf(stderr, text::kLibraryNotLoaded, program_invocation_short_name, what_,
                         names_[i]);
            return;
        }
    }
    bound_ = true;
}

} // namespace orvo
