// A shared library bound when one of its functions is first called, so that
// a program that never needs it does not pay for loading it (FFmpeg's
// libraries and what they pull in take tens of milliseconds at every start).
//
// The binding is all or nothing: every library of the set is opened and every
// function named is resolved, or none is used and each call returns the
// value of unboundResult(): a negative error code, a null pointer, zero or
// nothing. The first failure writes one line to stderr.
//
// Threading: functions() may be called from any thread; the first call binds.
#pragma once

#include <cerrno>
#include <cstddef>
#include <mutex>
#include <type_traits>
#include <vector>

namespace orvo {

class LazyLibrary {
  public:
    // `what` names the set in the failure message; `sonames` are opened in
    // order; `names` (count of them) are looked up in every opened library.
    LazyLibrary(const char* what, std::vector<const char*> sonames, const char* const* names,
                size_t count);
    LazyLibrary(const LazyLibrary&) = delete;
    LazyLibrary& operator=(const LazyLibrary&) = delete;

    // The functions' addresses in the order of the names, or null when the
    // set could not be bound.
    void* const* functions();

  private:
    void bind();

    const char* what_;
    std::vector<const char*> sonames_;
    const char* const* names_;
    size_t count_;
    std::once_flag once_;
    std::vector<void*> fn_;
    bool bound_ = false;
};

// What a function of a set that could not be bound returns.
template <typename R> R unboundResult() {
    if constexpr (std::is_void_v<R>)
        return;
    else if constexpr (std::is_pointer_v<R>)
        return nullptr;
    else if constexpr (std::is_integral_v<R> && std::is_signed_v<R>)
        return static_cast<R>(-ENOSYS);
    else
        return R{};
}

} // namespace orvo
