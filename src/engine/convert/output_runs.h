// Outputs reach their files in runs: the bytes of many blocks are gathered and
// written together, so that a long output costs a few hundred writes rather
// than one per block or frame. The streams stay unbuffered, so that a failed
// write leaves exactly the bytes that reached the file.
#pragma once

#include <cstddef>

namespace kestrel {

inline constexpr size_t kOutputRunBytes = 256 * 1024;

} // namespace kestrel
