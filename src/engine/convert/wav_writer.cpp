#include "engine/convert/wav_writer.h"

#include "engine/core/captions.h"
#include "engine/convert/texts.h"
#include "platform/ports.h"

#include <cstring>

namespace kestrel {

namespace {

void put32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

void put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

} // namespace

void WavWriter::reset() {
    dataBytes = 0;
    limitReported_ = false;
    held_.clear();
    unwritten_ = 0;
}

void wavHeaderBytes(uint8_t h[44], uint32_t dataSize, int channels, int rate) {
    std::memcpy(h, "RIFF", 4);
    put32(h + 4, dataSize + 36);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    put32(h + 16, 16);
    put16(h + 20, 1);
    put16(h + 22, static_cast<uint16_t>(channels));
    put32(h + 24, static_cast<uint32_t>(rate));
    put32(h + 28, static_cast<uint32_t>(rate * channels * 2));
    put16(h + 32, static_cast<uint16_t>(channels * 2));
    put16(h + 34, 16);
    std::memcpy(h + 36, "data", 4);
    put32(h + 40, dataSize);
}

int WavWriter::writeHeader(FILE* out, int channels, int rate) const {
    if (!out) return -1;
    uint8_t h[44];
    wavHeaderBytes(h, dataBytes, channels, rate);
    return std::fwrite(h, 1, 44, out) == 44 ? 0 : -1;
}

void WavWriter::count(uint32_t bytes) {
    uint64_t sum = static_cast<uint64_t>(dataBytes) + bytes;
    dataBytes = sum > kWavMaxDataBytes ? kWavMaxDataBytes : static_cast<uint32_t>(sum);
}

size_t WavWriter::append(FILE* out, const uint8_t* pcm, size_t bytes, int channels,
                         const std::string& outputName) {
    if (!out) return 0;
    size_t frame = static_cast<size_t>(channels > 0 ? channels : 1) * 2;
    uint64_t taken = static_cast<uint64_t>(dataBytes) + held_.size();
    uint64_t room = taken < kWavMaxDataBytes ? kWavMaxDataBytes - taken : 0;
    room -= room % frame;
    if (bytes > room) {
        bytes = static_cast<size_t>(room);
        if (!limitReported_) {
            limitReported_ = true;
            char msg[1100];
            std::snprintf(msg, sizeof msg, text::kWavTooLarge, outputName.c_str());
            showMessage(caption::kMain, msg);
        }
    }
    if (bytes == 0 || std::ferror(out)) return 0;
    if (held_.size() + bytes > kRunBytes) {
        if (flush(out) != 0) return 0;
        if (bytes >= kRunBytes) {
            // A block as large as a run goes straight to the file.
            size_t n = std::fwrite(pcm, 1, bytes, out);
            count(static_cast<uint32_t>(n));
            return n;
        }
    }
    if (held_.capacity() < kRunBytes) held_.reserve(kRunBytes);
    held_.insert(held_.end(), pcm, pcm + bytes);
    return bytes;
}

size_t WavWriter::flush(FILE* out) {
    if (held_.empty()) return 0;
    size_t n = 0;
    if (out && !std::ferror(out)) n = std::fwrite(held_.data(), 1, held_.size(), out);
    count(static_cast<uint32_t>(n));
    size_t lost = held_.size() - n;
    unwritten_ += lost;
    held_.clear();
    return lost;
}

int WavWriter::finish(FILE* out) {
    if (!out) return -1;
    if (flush(out) != 0) {
        std::fclose(out);
        return -1;
    }
    uint8_t b[4];
    put32(b, dataBytes + 36);
    int rc = 0;
    if (std::fseek(out, 4, SEEK_SET) != 0 || std::fwrite(b, 1, 4, out) != 4) rc = -1;
    put32(b, dataBytes);
    if (std::fseek(out, 40, SEEK_SET) != 0 || std::fwrite(b, 1, 4, out) != 4) rc = -1;
    if (std::fclose(out) != 0) rc = -1;
    return rc;
}

} // namespace kestrel
