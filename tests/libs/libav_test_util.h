// Helpers shared by the tests of the codec libraries built on FFmpeg: the
// reference decode by the ffmpeg tool and the signal-to-noise comparison.
#pragma once

#include "support/test_support.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace kestrel::test::libav {

inline std::vector<int16_t> toSamples(const std::string& bytes) {
    std::vector<int16_t> s(bytes.size() / 2);
    if (!s.empty()) std::memcpy(s.data(), bytes.data(), s.size() * 2);
    return s;
}

inline std::vector<int16_t> toSamples(const std::vector<uint8_t>& bytes, size_t count) {
    std::vector<int16_t> s(count / 2);
    if (!s.empty()) std::memcpy(s.data(), bytes.data(), s.size() * 2);
    return s;
}

// 16-bit PCM of `file` as decoded by the ffmpeg tool; `inputOptions` go before
// -i, `outputOptions` after it.
inline std::vector<int16_t> ffmpegDecode(const std::string& file,
                                         const std::string& outputOptions = "",
                                         const std::string& inputOptions = "") {
    return toSamples(capture("ffmpeg -nostdin -hide_banner -loglevel error " + inputOptions +
                             " -i '" + file + "' " + outputOptions + " -f s16le -c:a pcm_s16le -"));
}

// Signal-to-noise ratio of `test` against `ref` over their common length, dB
// (200 for identical signals).
inline double snrDb(const std::vector<int16_t>& ref, const std::vector<int16_t>& test) {
    size_t n = std::min(ref.size(), test.size());
    double sig = 0, noise = 0;
    for (size_t i = 0; i < n; ++i) {
        double r = ref[i], d = double(test[i]) - r;
        sig += r * r;
        noise += d * d;
    }
    if (n == 0 || sig == 0) return 0;
    if (noise == 0) return 200;
    return 10 * std::log10(sig / noise);
}

// One stream field of ffprobe's report (e.g. "sample_rate") for stream `sel`
// ("a:0"), empty when missing.
inline std::string probe(const std::string& file, const std::string& field,
                         const std::string& sel = "a:0") {
    std::string out =
        capture("ffprobe -v error -select_streams " + sel + " -show_entries stream=" + field +
                " -of default=nw=1:nk=1 '" + file + "'");
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

inline std::string probeFormat(const std::string& file, const std::string& field) {
    std::string out = capture("ffprobe -v error -show_entries format=" + field +
                              " -of default=nw=1:nk=1 '" + file + "'");
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

// Several fields in one ffprobe run: `entries` as for -show_entries (e.g.
// "stream=sample_rate,channels:format=duration:format_tags=major_brand"),
// of the first audio stream; `extra` goes before the file name.
inline std::map<std::string, std::string>
probeAll(const std::string& file, const std::string& entries, const std::string& extra = "") {
    std::istringstream in(capture("ffprobe -v error -select_streams a:0 " + extra +
                                  " -show_entries " + entries + " -of default=nw=1 '" + file +
                                  "'"));
    std::map<std::string, std::string> out;
    for (std::string line; std::getline(in, line);) {
        auto eq = line.find('=');
        if (eq != std::string::npos) out[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return out;
}

} // namespace kestrel::test::libav
