#include "support/audio_compare.h"
#include "support/test_support.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace kestrel::test {

std::vector<int16_t> wavSamples(const std::string& path, int* rate, int* channels) {
    auto b = readFile(path);
    std::vector<int16_t> out;
    if (b.size() < 44 || std::memcmp(b.data(), "RIFF", 4) != 0) return out;
    size_t pos = 12;
    while (pos + 8 <= b.size()) {
        uint32_t size;
        std::memcpy(&size, b.data() + pos + 4, 4);
        if (std::memcmp(b.data() + pos, "fmt ", 4) == 0 && pos + 24 <= b.size()) {
            uint16_t ch;
            uint32_t r;
            std::memcpy(&ch, b.data() + pos + 10, 2);
            std::memcpy(&r, b.data() + pos + 12, 4);
            if (rate) *rate = static_cast<int>(r);
            if (channels) *channels = ch;
        } else if (std::memcmp(b.data() + pos, "data", 4) == 0) {
            size_t n = std::min<size_t>(size, b.size() - pos - 8) / 2;
            out.resize(n);
            std::memcpy(out.data(), b.data() + pos + 8, n * 2);
            return out;
        }
        pos += 8 + size + (size & 1);
    }
    return out;
}

std::vector<int16_t> ffmpegDecode(const std::string& src, int rate, int channels,
                                  const std::string& filter, const std::string& inputOptions) {
    TempDir d;
    std::string out = d.file("ref.s16");
    std::string cmd =
        "ffmpeg -v error -nostdin -y " + inputOptions + " -i '" + src + "' -vn -map 0:a:0 ";
    std::string af = filter;
    if (rate > 0) {
        if (!af.empty()) af += ",";
        af += "aresample=" + std::to_string(rate) + ":resampler=soxr";
    }
    if (!af.empty()) cmd += "-af '" + af + "' ";
    if (channels > 0) cmd += "-ac " + std::to_string(channels) + " ";
    cmd += "-f s16le -acodec pcm_s16le '" + out + "'";
    std::vector<int16_t> s;
    if (run(cmd) != 0) return s;
    auto b = readFile(out);
    s.resize(b.size() / 2);
    std::memcpy(s.data(), b.data(), s.size() * 2);
    return s;
}

Comparison compareAudio(const std::vector<int16_t>& test, const std::vector<int16_t>& ref, int ch,
                        long maxLag, long trim) {
    Comparison c;
    long nt = static_cast<long>(test.size()) / ch, nr = static_cast<long>(ref.size()) / ch;
    c.lengthDiff = nt - nr;
    // Coarse search on a decimated window, then exact around the best.
    auto err = [&](long lag, long step) {
        double e = 0, n = 0;
        long from = std::max(trim, -lag), to = std::min(nt - trim, nr - lag - trim);
        for (long i = from; i < to; i += step) {
            for (int k = 0; k < ch; ++k) {
                double d = double(test[i * ch + k]) - ref[(i + lag) * ch + k];
                e += d * d;
            }
            n += ch;
        }
        return n > 0 ? e / n : std::numeric_limits<double>::infinity();
    };
    long best = 0;
    double bestE = std::numeric_limits<double>::infinity();
    for (long lag = -maxLag; lag <= maxLag; ++lag) {
        double e = err(lag, 37);
        if (e < bestE) {
            bestE = e;
            best = lag;
        }
    }
    c.lag = best;
    long from = std::max(trim, -best), to = std::min(nt - trim, nr - best - trim);
    double sig = 0, noise = 0;
    for (long i = from; i < to; ++i) {
        for (int k = 0; k < ch; ++k) {
            double r = ref[(i + best) * ch + k];
            double d = double(test[i * ch + k]) - r;
            sig += r * r;
            noise += d * d;
        }
    }
    c.overlap = to > from ? to - from : 0;
    c.snrDb = noise > 0 ? 10 * std::log10(sig / noise) : 200.0;
    return c;
}

} // namespace kestrel::test
