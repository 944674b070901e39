#include "engine/pipeline/library_readers.h"

#include "common/av_decoder.h"
#include "engine/containers/amr_file.h"
#include "engine/containers/demux.h"
#include "engine/core/captions.h"
#include "engine/core/mpeg_audio_header.h"
#include "engine/core/text_format.h"
#include "engine/libraries/lib_orvoaacdec.h"
#include "engine/libraries/lib_orvoamrdec.h"
#include "engine/libraries/lib_orvomp4dec.h"
#include "engine/pipeline/mpeg_decoding.h"
#include "engine/pipeline/pcm_trim.h"
#include "engine/pipeline/sink_wiring.h"
#include "engine/pipeline/texts.h"
#include "engine/settings/settings.h"
#include "platform/paths.h"
#include "platform/ports.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace kestrel {

namespace {

void openFailed(const std::string& path, int error) {
    showMessage(caption::kMainWide, formatText(text::kOpenSourceFailed, path), error);
}

// Waits while paused; true when the loop goes on.
bool runnable(RunFlags& flags, const PcmSinkPath& sink) {
    while (flags.paused.load() && flags.running.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return flags.running.load() && !sink.failed();
}

// A seek request of a source that cannot seek is dropped.
void dropSeek(RunFlags& flags) {
    if (flags.seekRequest.load() != 0) {
        flags.seekRequest = 0;
        flags.seekDragging = false;
    }
}

// Reports the second when it changes and the slider is not being dragged.
struct SecondReporter {
    PositionReport report;
    void* context;
    int last = -1;
    void operator()(RunFlags& flags, int second) {
        if (second == last || flags.seekDragging.load()) return;
        last = second;
        if (report) report(second, context);
    }
};

void handOn(PcmBuffer& pcm, PcmSinkPath& sink) {
    if (pcm.pending > 0) sink.consume(pcm);
    pcm.pending = 0;
}

int room(const PcmBuffer& pcm) {
    return kPcmBufferBytes - pcm.pending;
}

} // namespace

void StageFormatSink::consume(PcmBuffer& pcm) {
    pcm_sink(pcm.data(), pcm.pending, channels_, out_, ratio_);
}

bool StageFormatSink::failed() const {
    return changeFailed_ || outputFailed(out_);
}

void StageFormatSink::sourceFormat(int rate, int channels) {
    channels = std::min(channels, 2);
    if (rate <= 0 || channels <= 0 || (rate == rate_ && channels == channels_)) return;
    close_pcm_change(out_, ratio_);
    rate_ = rate;
    channels_ = channels;
    ratio_ = makeRateRatio(outputFormat.out_rate, rate);
    rateRatio = ratio_;
    setWiredRateRatio(ratio_);
    if (prepare_pcm_change(ratio_, channels_) < 0) changeFailed_ = true;
}

int proportionalIndex(int second, int durationSec, int count) {
    if (second <= 0 || durationSec <= 0 || count <= 0) return 0;
    double i = static_cast<double>(second) / durationSec * count;
    return i >= count ? count : static_cast<int>(i);
}

ReaderResult readAmrFile(const ReaderEntry& e, RunFlags flags, PcmBuffer& pcm, FormatSinkPath& sink,
                         PositionReport report, void* context) {
    FILE* f = openSource(e.path);
    if (!f) {
        openFailed(e.path, errno);
        return ReaderResult::OpenFailed;
    }
    struct stat st;
    const uint64_t size =
        ::fstat(fileno(f), &st) == 0 ? static_cast<uint64_t>(st.st_size) : e.fileSize;
    char magic[kAmrMagicBytes];
    if (std::fread(magic, 1, sizeof magic, f) != sizeof magic ||
        std::memcmp(magic, kAmrMagic, kAmrMagicBytes) != 0) {
        std::fclose(f);
        return ReaderResult::Ended; // no ring tone (any more): no sound
    }
    if (orvoamrdec.amrdecode_init() < 0) {
        std::fclose(f);
        return ReaderResult::Ended;
    }
    sink.sourceFormat(kAmrSampleRate, 1);
    uint64_t consumed = kAmrMagicBytes;
    SecondReporter position{report, context};
    pcm.pending = 0;
    uint8_t frame[32];
    while (runnable(flags, sink)) {
        dropSeek(flags);
        int header = std::fgetc(f);
        if (header == EOF) break;
        frame[0] = static_cast<uint8_t>(header);
        const size_t body = static_cast<size_t>(amrBodyBytesOf(frame[0]));
        if (std::fread(frame + 1, 1, body, f) != body) break; // a frame cut short
        consumed += 1 + body;
        int n = orvoamrdec.amr_decode(frame, static_cast<int>(1 + body), pcm.data() + pcm.pending,
                                      room(pcm));
        if (n > 0) pcm.pending += n;
        position(flags, positionSecond(consumed, e.durationSec, size));
        if (pcm.pending > 2 * AMRDEC_PCM_PER_FRAME - 1) handOn(pcm, sink);
    }
    if (flags.running.load() && !sink.failed()) handOn(pcm, sink);
    pcm.pending = 0;
    orvoamrdec.amrdecode_close();
    std::fclose(f);
    return ReaderResult::Ended;
}

ReaderResult readAacFile(const ReaderEntry& e, RunFlags flags, PcmBuffer& pcm, FormatSinkPath& sink,
                         PositionReport report, void* context) {
    int rate = 0, channels = 0;
    int rc = orvoaacdec.aacdecode_init(e.path.c_str(), AACDEC_MODE_STREAM, &rate, &channels);
    if (rc == -1) {
        openFailed(e.path, 0);
        return ReaderResult::OpenFailed;
    }
    pcm.pending = 0;
    if (rc < 0) return ReaderResult::Ended; // no ADTS or ADIF stream: no sound
    sink.sourceFormat(rate, channels);
    SecondReporter position{report, context};
    while (runnable(flags, sink)) {
        dropSeek(flags);
        int length = 0;
        int progress = orvoaacdec.aac_decode(pcm.data(), kPcmBufferBytes, &length);
        if (progress < 0) break;
        pcm.pending = std::clamp(length, 0, kPcmBufferBytes);
        position(flags, static_cast<int>(int64_t(progress) * e.durationSec / 1000));
        handOn(pcm, sink);
    }
    pcm.pending = 0;
    orvoaacdec.aacdecode_close();
    return ReaderResult::Ended;
}

namespace {

// The decoder of an MP4 audio track.
class Mp4TrackDecoder {
  public:
    enum class Codec { None, AmrNarrow, AmrWide, Aac, MpegAudio };

    Mp4TrackDecoder(RunFlags flags, PcmBuffer& pcm, PcmSinkPath& sink)
        : pcm_(pcm), sink_(sink), mpeg_(flags, kMainLibraryInstance, false, &pcm) {}

    // Opens the decoder for the open file's audio track; false when none fits.
    bool open(const ReaderEntry& e, int codec, const char* name) {
        path_ = e.path;
        if (codec == 1) {
            codec_ = Codec::AmrNarrow;
            rate_ = kAmrSampleRate;
            channels_ = 1;
        } else if (codec == 2) {
            codec_ = Codec::AmrWide;
            rate_ = 16000;
            channels_ = 1;
        } else if (std::strcmp(name, "MPEG-1 Audio (11172-3)") == 0 ||
                   std::strcmp(name, "MPEG-2 Audio (13818-3)") == 0) {
            codec_ = Codec::MpegAudio;
            rate_ = e.sourceRate;
            channels_ = e.sourceChannels;
            // The first frame states the stream's own format.
            uint8_t head[kMaxMpegFrameBytes + 100];
            MpegAudioHeader h;
            if (orvomp4dec.mp4_readaudio(0, head, sizeof head, nullptr) >= 4 &&
                parseMpegAudioHeader(head, h)) {
                rate_ = h.sampleRate;
                channels_ = h.channels;
            }
        } else {
            codec_ = Codec::Aac;
            config_.resize(1024);
            int n = orvomp4dec.mp4_getmp4aconfig(config_.data(), static_cast<int>(config_.size()));
            config_.resize(n > 0 ? static_cast<size_t>(n) : 0);
            sourceRate_ = e.sourceRate;
        }
        if (!start()) return false;
        // The track's edit list: the encoder's priming and padding are not sound.
        int skip = 0, trackRate = 0;
        long long keep = -1;
        if (orvomp4dec.mp4_getaudiotrim(&skip, &keep) == 0 &&
            orvomp4dec.mp4_getaudio(&trackRate, nullptr, nullptr, nullptr) == 0 && trackRate > 0 &&
            rate_ > 0 && (skip > 0 || keep >= 0)) {
            trim_.skipFrames = static_cast<int64_t>(skip) * rate_ / trackRate;
            trim_.remainingFrames = keep >= 0 ? keep * rate_ / trackRate : -1;
        }
        return true;
    }

    // Hands the decoded PCM on, without the priming and padding.
    void pass() {
        trim_.apply(pcm_, channels_);
        handOn(pcm_, sink_);
    }

    // After a seek: the decoder starts afresh.
    void restart() {
        trim_.seeked();
        if (codec_ == Codec::MpegAudio) {
            mpeg_.demuxer().demuxSeek();
            mpeg_.decoder().reset();
        } else {
            close();
            start();
        }
    }

    // Decodes one sample into the PCM buffer.
    void decode(const uint8_t* data, int length) {
        uint8_t* out = pcm_.data() + pcm_.pending;
        int n = 0;
        switch (codec_) {
        case Codec::AmrNarrow:
            n = orvoamrdec.amr_decode(data, length, out, room(pcm_));
            break;
        case Codec::AmrWide:
            n = wide_.decode(data, length, out, room(pcm_));
            break;
        case Codec::Aac:
            n = orvoaacdec.aacbuf_decode(data, length, out, room(pcm_));
            break;
        case Codec::MpegAudio:
            if (!mpegStarted_) {
                route_ = length >= 4 ? routeForHeader(data) : DecoderRoute::MpegAudioLibrary;
                mpegStarted_ = true;
            }
            mpeg_.demuxer().feedMpegAudio(data, length, route_, true);
            break;
        case Codec::None:
            break;
        }
        if (n > 0) pcm_.pending += std::min(n, room(pcm_));
    }

    // The last frame the MPEG frame assembler holds back.
    void finish() {
        if (codec_ == Codec::MpegAudio) mpeg_.demuxer().demuxFinish();
    }

    void close() {
        switch (codec_) {
        case Codec::AmrNarrow:
            orvoamrdec.amrdecode_close();
            break;
        case Codec::AmrWide:
            wide_.close();
            break;
        case Codec::Aac:
            orvoaacdec.aacdecodebuf_close();
            break;
        case Codec::MpegAudio:
            mpeg_.decoder().stop();
            break;
        case Codec::None:
            break;
        }
    }

    int rate() const { return rate_; }
    int channels() const { return channels_; }

  private:
    bool start() {
        switch (codec_) {
        case Codec::AmrNarrow:
            return orvoamrdec.amrdecode_init() >= 0;
        case Codec::AmrWide: {
            orvo::AvDecoderParams p;
            p.sampleRate = 16000;
            p.channels = 1;
            p.outRate = 16000;
            p.outChannels = 1;
            return wide_.open(AV_CODEC_ID_AMR_WB, p) >= 0;
        }
        case Codec::Aac: {
            int r = 0, ch = 0;
            if (orvoaacdec.aacdecodebuf_init(config_.data(), static_cast<int>(config_.size()), 1000,
                                             sourceRate_, &r, &ch) < 0)
                return false;
            rate_ = r;
            channels_ = ch;
            return true;
        }
        case Codec::MpegAudio:
            mpeg_.demuxer().demuxReset(kDemuxMpegAudio);
            mpeg_.decoder().start(path_);
            mpeg_.decoder().setDrain([this] { pass(); });
            return true;
        case Codec::None:
            break;
        }
        return false;
    }

    PcmBuffer& pcm_;
    PcmSinkPath& sink_;
    Codec codec_ = Codec::None;
    std::string path_;
    std::vector<uint8_t> config_;
    int sourceRate_ = 0;
    int rate_ = 0, channels_ = 0;
    orvo::AvDecoder wide_;
    MpegReader mpeg_;
    DecoderRoute route_ = DecoderRoute::MpegAudioLibrary;
    bool mpegStarted_ = false;
    PcmTrim trim_;
};

} // namespace

ReaderResult readMp4Audio(const ReaderEntry& e, RunFlags flags, PcmBuffer& pcm,
                          FormatSinkPath& sink, PositionReport report, void* context) {
    if (loadOrvomp4dec() < 0) return ReaderResult::OpenFailed;
    Orvomp4decApi& m = orvomp4dec;
    if (m.mp4de_init(e.path.c_str()) < 0) {
        openFailed(e.path, 0);
        unloadOrvomp4dec();
        return ReaderResult::OpenFailed;
    }
    int largest = 0, codec = 0;
    const int count = m.mp4_getaudionum(&largest, &codec);
    char name[MP4DEC_NAME_BYTES] = {0};
    m.mp4_getaudioname(name);
    pcm.pending = 0;
    Mp4TrackDecoder decoder(flags, pcm, sink);
    if (count > 0 && decoder.open(e, codec, name)) {
        sink.sourceFormat(decoder.rate(), decoder.channels());
        std::vector<uint8_t> sample(static_cast<size_t>(largest > 0 ? largest : 10000) + 100);
        SecondReporter position{report, context};
        int index = 0;
        while (runnable(flags, sink)) {
            int req = flags.seekRequest.load();
            if (req != 0) {
                index = proportionalIndex(req - 100, e.durationSec, count);
                decoder.restart();
                pcm.pending = 0;
                flags.seekRequest = 0;
                flags.seekDragging = false;
                continue;
            }
            if (index >= count) break;
            double ms = 0;
            int n = m.mp4_readaudio(index, sample.data(), static_cast<int>(sample.size()), &ms);
            if (n == -2) { // larger than the track said: make room and read it again
                sample.resize(sample.size() * 2);
                if (sample.size() > (64u << 20)) break;
                continue;
            }
            ++index;
            if (n < 0) break; // the file ends here (cut short)
            decoder.decode(sample.data(), n);
            position(flags, ms > 0 ? static_cast<int>(ms / 1000) : 0);
            decoder.pass();
        }
        if (flags.running.load() && !sink.failed()) {
            decoder.finish();
            decoder.pass();
        }
        decoder.close();
    }
    pcm.pending = 0;
    m.mp4de_close();
    unloadOrvomp4dec();
    return ReaderResult::Ended;
}

} // namespace kestrel
