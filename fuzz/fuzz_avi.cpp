// Fuzz target for the AVI reader: the input is read from memory with its
// indexes built, and every index entry must lie within the input.
#include "engine/containers/avi_reader.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

class MemorySource : public kestrel::AviSource {
  public:
    MemorySource(const uint8_t* b, size_t n) : b_(b), n_(n) {}
    size_t read(uint64_t offset, uint8_t* to, size_t n) override {
        if (offset >= n_) return 0;
        size_t k = n < n_ - size_t(offset) ? n : n_ - size_t(offset);
        std::memcpy(to, b_ + offset, k);
        return k;
    }
    uint64_t size() const override { return n_; }

  private:
    const uint8_t* b_;
    size_t n_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MemorySource src(data, size);
    kestrel::AviFile f;
    int rc = kestrel::readAvi(src, true, f);
    if (rc != 0) return 0;
    uint64_t total = 0;
    for (const kestrel::AviChunk& c : f.audioIndex) {
        if (c.offset + c.length > size || c.before != total) std::abort();
        total += c.length;
    }
    for (const kestrel::AviChunk& c : f.videoIndex)
        if (c.offset + c.length > size) std::abort();
    if (f.audioFormat.size() > 4096) std::abort();
    return 0;
}
