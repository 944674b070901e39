#include "engine/convert/wma_encoding.h"

#include "engine/convert/encoder_threads.h"
#include "engine/convert/output_naming.h"
#include "engine/convert/texts.h"
#include "engine/convert/wav_writer.h"
#include "engine/core/text_format.h"
#include "engine/pipeline/pcm_stage.h"
#include "platform/atomic_file.h"
#include "engine/settings/settings.h"
#include "platform/paths.h"
#include "engine/core/captions.h"
#include "platform/ports.h"
#include "platform/wm_writer.h"

extern "C" {
#include <libavutil/error.h>
}

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kestrel {

namespace {

// The audio of a 16-bit PCM WAV file: its format and where its samples are.
// No size in the file is trusted beyond the file's own length.
struct WavSource {
    FILE* f = nullptr;
    int rate = 0, channels = 0;
    uint64_t dataStart = 0, dataBytes = 0;
    ~WavSource() {
        if (f) std::fclose(f);
    }
};

uint32_t le32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}

// 0, or a negative code (AVERROR).
int openWavSource(WavSource& s, const std::string& path) {
    s.f = std::fopen(path.c_str(), "rb");
    if (!s.f) return AVERROR(errno ? errno : ENOENT);
    struct stat st;
    if (::fstat(fileno(s.f), &st) != 0) return AVERROR(EIO);
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    uint8_t h[12];
    if (std::fread(h, 1, 12, s.f) != 12 || std::memcmp(h, "RIFF", 4) ||
        std::memcmp(h + 8, "WAVE", 4))
        return AVERROR_INVALIDDATA;
    uint64_t pos = 12;
    bool haveFmt = false;
    while (pos + 8 <= size) {
        uint8_t c[8];
        if (std::fseek(s.f, static_cast<long>(pos), SEEK_SET) != 0 || std::fread(c, 1, 8, s.f) != 8)
            break;
        const uint64_t len = le32(c + 4);
        if (!std::memcmp(c, "fmt ", 4)) {
            uint8_t fmt[16];
            if (len < 16 || std::fread(fmt, 1, 16, s.f) != 16) return AVERROR_INVALIDDATA;
            const int tag = fmt[0] | fmt[1] << 8;
            s.channels = fmt[2] | fmt[3] << 8;
            s.rate = static_cast<int>(le32(fmt + 4));
            const int bits = fmt[14] | fmt[15] << 8;
            if (tag != 1 || bits != 16 || s.channels < 1 || s.channels > 2 || s.rate <= 0)
                return AVERROR_INVALIDDATA;
            haveFmt = true;
        } else if (!std::memcmp(c, "data", 4)) {
            if (!haveFmt) return AVERROR_INVALIDDATA;
            s.dataStart = pos + 8;
            s.dataBytes = std::min<uint64_t>(len, size - s.dataStart);
            s.dataBytes -= s.dataBytes % (2u * static_cast<unsigned>(s.channels));
            return std::fseek(s.f, static_cast<long>(s.dataStart), SEEK_SET) == 0 ? 0
                                                                                  : AVERROR(EIO);
        }
        pos += 8 + len + (len & 1);
    }
    return AVERROR_INVALIDDATA;
}

std::string hrText(const char* format, int hr) {
    char b[512];
    std::snprintf(b, sizeof b, format, static_cast<unsigned>(hr));
    return b;
}

std::string hrText(const char* format, const std::string& arg, int hr) {
    std::vector<char> b(arg.size() + 128);
    std::snprintf(b.data(), b.size(), format, arg.c_str(), static_cast<unsigned>(hr));
    return b.data();
}

void diagnostic(const std::string& text) {
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

// Profile creation: each step's failure shows its message and the steps go
// on. The codec enumeration and the profile are tables of ours; the one step
// that can fail is the audio stream, whose format must exist.
WmProfile createProfile(int codec, int formatValue) {
    enum Step { kCreateAudioStream = 7, kStepCount = 12 };
    static_assert(sizeof text::kWmaProfileSteps / sizeof *text::kWmaProfileSteps == kStepCount);
    WmProfile profile;
    const WmaFormat* format = wmaFormatOf(codec, formatValue);
    for (int step = 0; step < kStepCount; ++step) {
        int hr = 0;
        if (step == kCreateAudioStream && !format) hr = AVERROR(EINVAL);
        // The stream's own steps need the stream.
        if (step > kCreateAudioStream && !format) break;
        if (hr < 0) showMessage(caption::kMain, hrText(text::kWmaProfileSteps[step], hr));
    }
    if (format) {
        profile.codec = codec;
        profile.format = *format;
    }
    return profile;
}

// Reads the source in blocks and writes them; 0 or the failing step's code
// (message shown).
int convertSamples(WavSource& src, WmWriter& writer) {
    int hr = writer.beginWriting();
    if (hr < 0) {
        if (hr == AVERROR_ENCODER_NOT_FOUND)
            diagnostic(text::kWmaNoCodec);
        else if (hr == AVERROR(EINVAL))
            diagnostic(text::kWmaBadFormat);
        else
            diagnostic(hrText(text::kWmaBeginFailed, hr));
        return hr;
    }
    const size_t frameBytes = 2u * static_cast<size_t>(src.channels);
    std::vector<int16_t> block(4096u * static_cast<size_t>(src.channels));
    uint64_t done = 0;
    int lastPercent = 0;
    while (done < src.dataBytes) {
        const size_t want =
            static_cast<size_t>(std::min<uint64_t>(block.size() * 2, src.dataBytes - done));
        const size_t got = std::fread(block.data(), 1, want, src.f) / frameBytes * frameBytes;
        if (got == 0) break; // the file is shorter than it was: what is there is written
        // The samples are little-endian in the file.
        for (size_t i = 0; i < got / 2; ++i) {
            const auto* b = reinterpret_cast<const uint8_t*>(&block[i]);
            block[i] = static_cast<int16_t>(b[0] | b[1] << 8);
        }
        hr = writer.writeSample(block.data(), static_cast<int>(got / frameBytes));
        if (hr < 0) {
            diagnostic(hrText(text::kWmaWriteFailed, hr));
            return hr;
        }
        done += got;
        const int percent = static_cast<int>(done * 100 / src.dataBytes);
        if (percent != lastPercent && percent < 100) window().wmaProgress(percent);
        lastPercent = percent;
    }
    hr = writer.endWriting();
    if (hr < 0) diagnostic(hrText(text::kWmaEndFailed, hr));
    return hr;
}

} // namespace

void noteWmaConstantRate(int codec, int formatValue) {
    if (formatValue < kWmaVbrOffset) return;
    const WmaFormat* format = wmaFormatOf(codec, formatValue);
    if (!format) return; // the profile step reports a format that does not exist
    char text[512];
    std::snprintf(text, sizeof text, text::kWmaVbrAsCbr, formatValue, formatValue % kWmaVbrOffset,
                  describeWmaFormat(*format).c_str());
    showMessage(caption::kMain, text);
}

int encodeWma(const std::string& wavPath, const std::string& outPath, int codec, int formatValue,
              const std::vector<std::pair<std::string, std::string>>& metadata, int* writeError) {
    if (writeError) *writeError = 0;
    window().wmaProgress(0);
    WmProfile profile = createProfile(codec, formatValue);

    // The converter: its source, its writer with the profile, the source's
    // format as the writer's input, the output name.
    int rc = 0;
    auto src = std::make_unique<WavSource>();
    auto writer = std::make_unique<WmWriter>();
    writer->setMetadata(metadata);
    int hr = openWavSource(*src, wavPath);
    if (hr < 0) {
        diagnostic(hrText(text::kWmaSourceFailed, wavPath, hr));
    } else if ((hr = writer->setProfile(profile)) < 0) {
        diagnostic(hrText(text::kWmaProfileFailed, hr));
    } else if ((hr = writer->setInputProps(src->rate, src->channels)) < 0) {
        diagnostic(hrText(text::kWmaInputsFailed, hr));
    } else if ((hr = writer->setOutputFilename(outPath)) < 0) {
        diagnostic(hrText(text::kWmaFilenameFailed, hr));
    } else {
        const uint64_t perSecond = 2u * static_cast<uint64_t>(src->channels) * src->rate;
        writer->setThreads(encoderThreadsFor(static_cast<int>(src->dataBytes / perSecond)));
    }
    if (hr < 0) {
        showMessage(caption::kMain, text::kWmaInitFailed);
        rc = -1;
    } else if ((hr = convertSamples(*src, *writer)) < 0) {
        // A write that failed for room gives its reason.
        if (writeError && (hr == AVERROR(ENOSPC) || hr == AVERROR(EDQUOT) || hr == AVERROR(EFBIG)))
            *writeError = -hr;
        writer->abandon();
        showMessage(caption::kMain, text::kWmaEncodeFailed);
        rc = -2;
    }
    src.reset();
    writer.reset();
    std::remove(wavPath.c_str());
    window().wmaProgress(100);
    return rc;
}

FILE* openWmaIntermediate(WavWriter& wav) {
    FILE* f = std::fopen(tempWavPath().c_str(), "wb");
    if (!f) return nullptr;
    std::setvbuf(f, nullptr, _IONBF, 0);
    wav.reset();
    wav.writeHeader(f, outputFormat.out_channels, outputFormat.out_rate);
    return f;
}

int openWmaOutput(PcmOutput& out, WavWriter& wav, AtomicFile& file) {
    if (out.stream) std::fclose(out.stream);
    errno = 0;
    out.stream = openWmaIntermediate(wav);
    if (out.stream && std::ferror(out.stream)) {
        // Not even the header fits (a full disk): the output takes nothing.
        out.writeError = errno ? errno : EIO;
        showMessage(caption::kMain, formatText(text::kOutputWriteFailed, out.name,
                                               writeFailureReason(out.writeError)));
    }
    if (out.stream) return 0;
    const int err = errno;
    file.abandon();
    showMessage(caption::kMain, formatText(text::kOutputOpenFailed, out.name), err);
    return -1;
}

void makeRoomForWma(FILE* f, uint32_t& dataBytes, const std::string& outPath) {
    const WmaFormat* format = wmaFormatOf(settings.wma_codec, settings.wma_format);
    struct stat wav, out;
    if (!format || ::fstat(fileno(f), &wav) != 0 || ::stat(outPath.c_str(), &out) != 0 ||
        wav.st_dev != out.st_dev)
        return;
    // The WMA of the sound kept takes its bit rate's share of it, and its
    // header, packets and index some more.
    constexpr uint64_t kWmaOverhead = 64 * 1024;
    const uint64_t frame = 2u * static_cast<uint64_t>(outputFormat.out_channels);
    const uint64_t pcmPerSecond = frame * static_cast<uint64_t>(outputFormat.out_rate);
    const uint64_t wmaPerSecond = static_cast<uint64_t>(format->bitRate) / 8;
    const uint64_t have = dataBytes;
    uint64_t keep = have > kWmaOverhead
                        ? (have - kWmaOverhead) * pcmPerSecond / (pcmPerSecond + wmaPerSecond)
                        : 0;
    keep -= keep % frame;
    if (keep >= have) return;
    if (::ftruncate(fileno(f), static_cast<off_t>(44 + keep)) != 0) return;
    dataBytes = static_cast<uint32_t>(keep);
}

int finishWmaOutput(FILE* f, WavWriter& wav, const std::string& outPath,
                    const std::vector<std::pair<std::string, std::string>>& metadata,
                    int& encodeError) {
    int rc = wav.finish(f);
    const int encoded = encodeWma(tempWavPath(), outPath, settings.wma_codec, settings.wma_format,
                                  metadata, &encodeError);
    return encoded < 0 ? kWmaNotEncoded : rc < 0 ? -1 : 0;
}

} // namespace kestrel
