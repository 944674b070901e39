// Helpers shared by the MPEG audio decoder tests: whole-file decoding through
// mp3dec and the frame decoder, reference PCM from the mpg123 command-line
// tool, alignment and error measures.
#pragma once

#include "engine/decode/frame_decoder.h"
#include "engine/decode/mp3dec.h"
#include "engine/core/mpeg_audio_header.h"
#include "engine/decode/mpa_huffman.h"
#include "support/test_support.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace kestrel::test {

struct Pcm {
    std::vector<int16_t> samples; // interleaved
    int channels = 0;
    int rate = 0;
    int frames = 0;     // decoded frames
    int silentInfo = 0; // frames reported as 0x41010001 / 0x41010002
};

// Decodes a whole byte stream with mp3dec, feeding `chunk` bytes at a time.
inline Pcm decodeStream(const std::vector<uint8_t>& data, int down = 0, int mono = 0,
                        size_t chunk = 4096) {
    Pcm pcm;
    mp3dec_t h = nullptr;
    if (mp3dec_open(&h, down, 0, mono, 1) != SSC_OK) return pcm;
    std::vector<uint8_t> out(1152 * 2 * 2);
    size_t pos = 0;
    bool ended = false;
    for (;;) {
        uint32_t produced = 0;
        Mp3Ssc s = mp3dec_decode(h, out.data(), uint32_t(out.size()), &produced);
        if (produced) {
            const int16_t* p = reinterpret_cast<const int16_t*>(out.data());
            pcm.samples.insert(pcm.samples.end(), p, p + produced / 2);
            ++pcm.frames;
            if (sscIsInfo(s)) ++pcm.silentInfo;
            Mp3FrameInfo fi;
            mp3dec_frame_info(h, &fi);
            pcm.channels = fi.outChannels;
            pcm.rate = fi.outRate;
            continue;
        }
        if (s == SSC_W_MPGA_SYNCEOF || sscIsError(s)) break;
        if (pos < data.size()) {
            uint32_t used = 0;
            size_t n = std::min(chunk, data.size() - pos);
            mp3dec_feed(h, data.data() + pos, uint32_t(n), &used);
            pos += used;
        } else if (!ended) {
            mp3dec_end_of_input(h);
            ended = true;
        } else if (s != SSC_W_MPGA_SYNCLOST) {
            break;
        }
    }
    mp3dec_close(h);
    return pcm;
}

// Splits a file into frames (after an ID3v2 tag) by following the headers.
inline std::vector<std::vector<uint8_t>> splitFrames(const std::vector<uint8_t>& d) {
    std::vector<std::vector<uint8_t>> frames;
    size_t p = 0;
    if (d.size() > 10 && d[0] == 'I' && d[1] == 'D' && d[2] == '3')
        p = 10 + ((d[6] & 0x7F) << 21 | (d[7] & 0x7F) << 14 | (d[8] & 0x7F) << 7 | (d[9] & 0x7F));
    while (p + 4 <= d.size()) {
        MpegAudioHeader h;
        if (!parseMpegAudioHeader(&d[p], h) || h.frameBytes == 0) {
            ++p;
            continue;
        }
        size_t n = std::min<size_t>(size_t(h.frameBytes), d.size() - p);
        frames.emplace_back(d.begin() + long(p), d.begin() + long(p + n));
        p += size_t(h.frameBytes);
    }
    return frames;
}

// Decodes frames with the frame decoder (slot `slot`), `batch` frames per call.
inline Pcm decodeFrames(const std::vector<std::vector<uint8_t>>& frames, int slot = 11,
                        int batch = 32) {
    Pcm pcm;
    if (frames.empty()) return pcm;
    std::vector<uint8_t> rec(kFrameRecordBytes);
    makeFrameRecord(rec.data(), frames[0].data(), int(frames[0].size()));
    if (mp3_open(slot, rec.data()) != 1) return pcm;
    FrameSlotInfo info;
    mp3_slot_info(slot, &info);
    pcm.channels = info.channels;
    pcm.rate = info.sampleRate;
    std::vector<uint8_t> out(size_t(batch) * 1152 * 4);
    for (size_t i = 0; i < frames.size(); i += size_t(batch)) {
        int n = int(std::min(frames.size() - i, size_t(batch)));
        std::vector<uint8_t> recs(size_t(n) * kFrameRecordBytes);
        for (int k = 0; k < n; ++k)
            makeFrameRecord(&recs[size_t(k) * kFrameRecordBytes], frames[i + size_t(k)].data(),
                            int(frames[i + size_t(k)].size()));
        int got = mp3_play(slot, recs.data(), n, out.data(), int(out.size()));
        if (got < 0) break;
        const int16_t* p = reinterpret_cast<const int16_t*>(out.data());
        pcm.samples.insert(pcm.samples.end(), p, p + got / 2);
        pcm.frames += n;
    }
    mp3_close(slot);
    return pcm;
}

// Reference PCM from the mpg123 tool (no gapless trimming), native 16-bit.
inline std::vector<int16_t> mpg123Decode(const std::string& path, const std::string& options = "") {
    TempDir dir;
    std::string out = dir.file("ref.pcm");
    run("mpg123 -q -s --no-gapless " + options + " '" + path + "' > '" + out + "' 2>/dev/null");
    std::vector<uint8_t> bytes = readFile(out);
    std::vector<int16_t> s(bytes.size() / 2);
    std::copy(bytes.begin(), bytes.begin() + long(s.size() * 2),
              reinterpret_cast<uint8_t*>(s.data()));
    return s;
}

struct Difference {
    long offset = 0;  // ours[i + offset] pairs with ref[i] (in interleaved samples)
    double rms = 1e9; // LSB
    int maxAbs = 1 << 20;
    size_t compared = 0;
};

// Compares at the offset `offset` (interleaved samples).
inline Difference differenceAt(const std::vector<int16_t>& ours, const std::vector<int16_t>& ref,
                               long offset) {
    Difference d;
    d.offset = offset;
    long start = std::max(0L, -offset);
    long end = std::min(long(ref.size()), long(ours.size()) - offset);
    if (end <= start) return d;
    double sum = 0;
    int mx = 0;
    for (long i = start; i < end; ++i) {
        int e = int(ours[size_t(i + offset)]) - int(ref[size_t(i)]);
        sum += double(e) * e;
        mx = std::max(mx, std::abs(e));
    }
    d.compared = size_t(end - start);
    d.rms = std::sqrt(sum / double(d.compared));
    d.maxAbs = mx;
    return d;
}

// Best alignment among whole frames of `spf` samples per channel.
inline Difference bestAlignment(const std::vector<int16_t>& ours, const std::vector<int16_t>& ref,
                                int spf, int channels) {
    Difference best;
    for (int f = -3; f <= 3; ++f) {
        Difference d = differenceAt(ours, ref, long(f) * spf * channels);
        if (d.compared > ref.size() / 2 && d.rms < best.rms) best = d;
    }
    return best;
}

} // namespace kestrel::test
