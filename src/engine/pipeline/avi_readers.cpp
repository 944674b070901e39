#include "engine/pipeline/avi_readers.h"

#include "engine/containers/demux.h"
#include "engine/core/captions.h"
#include "engine/core/text_format.h"
#include "engine/core/mpeg_audio_header.h"
#include "engine/libraries/lib_mxscan.h"
#include "engine/libraries/lib_orvoadpcmdec.h"
#include "engine/pipeline/mpeg_decoding.h"
#include "engine/pipeline/texts_avi.h"
#include "platform/ports.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

namespace kestrel {

size_t aviSeekChunk(int second, int durationSec, size_t chunks) {
    if (second <= 0 || durationSec <= 0 || chunks == 0) return 0;
    // Rounded up, so that the position shown after the seek is its second.
    double at = std::ceil(static_cast<double>(second) / durationSec * static_cast<double>(chunks));
    return at >= static_cast<double>(chunks) ? chunks : static_cast<size_t>(at);
}

int aviPositionSecond(size_t index, int durationSec, size_t chunks) {
    if (chunks == 0 || durationSec <= 0) return 0;
    return static_cast<int>(static_cast<double>(std::min(index, chunks)) /
                            static_cast<double>(chunks) * durationSec);
}

namespace {

// Audio chunks hold a fraction of a second; a longer one is not read.
constexpr uint32_t kMaxAudioChunk = 16u << 20;

// The decoder of one stream: turns audio chunks into PCM in the buffer,
// handing it to the sink whenever the buffer is full.
class ChunkDecoder {
  public:
    ChunkDecoder(const AviFile& f, PcmBuffer& pcm, PcmSinkPath& sink, RunFlags flags, int instance,
                 const std::string& path)
        : f_(f), codec_(aviAudioCodec(f.formatTag)), pcm_(pcm), sink_(sink),
          mpeg_(pcm, flags.running, instance, false) {
        if (codec_ == AviAudioCodec::MpegAudio) {
            demux_.setRunFlag(flags.running);
            demux_.setOutlet(&mpeg_);
            demux_.demuxReset(kDemuxMpegAudio);
            mpeg_.start(path);
            mpeg_.setDrain([this] { drain(); });
        } else if (codec_ == AviAudioCodec::Adpcm) {
            openAdpcm();
        }
    }
    ~ChunkDecoder() {
        if (codec_ == AviAudioCodec::MpegAudio) {
            mpeg_.stop();
            demux_.setOutlet(nullptr);
        } else if (codec_ == AviAudioCodec::Adpcm && adpcmOpen_) {
            orvoadpcmdec.orvo_adpcm_close();
        }
    }

    void decode(const uint8_t* b, size_t n) {
        if (n == 0) return;
        switch (codec_) {
        case AviAudioCodec::Pcm:
            pcmChunk(b, n);
            break;
        case AviAudioCodec::MpegAudio:
            if (!routeKnown_) findRoute(b, n);
            for (size_t at = 0; at < n;) {
                int step = static_cast<int>(std::min<size_t>(n - at, kMaxDemuxChunk));
                demux_.feedMpegAudio(b + at, step, route_, true);
                at += static_cast<size_t>(step);
            }
            break;
        case AviAudioCodec::Adpcm:
            if (!adpcmOpen_) break;
            adpcmOut_.resize(n * 5 + 65536);
            append(adpcmOut_.data(),
                   orvoadpcmdec.orvo_adpcm_decode(b, static_cast<int>(n), adpcmOut_.data(),
                                                  static_cast<int>(adpcmOut_.size())));
            break;
        }
    }

    // The end of the stream: what the decoders hold back.
    void finish() {
        if (codec_ == AviAudioCodec::MpegAudio) {
            demux_.demuxFinish();
        } else if (codec_ == AviAudioCodec::Adpcm && adpcmOpen_) {
            adpcmOut_.resize(65536);
            append(adpcmOut_.data(),
                   orvoadpcmdec.orvo_adpcm_decode(nullptr, 0, adpcmOut_.data(),
                                                  static_cast<int>(adpcmOut_.size())));
        }
    }

    // After a seek: nothing from before the jump is heard.
    void reset() {
        pcmCarry_ = 0;
        if (codec_ == AviAudioCodec::MpegAudio) {
            demux_.demuxSeek();
            mpeg_.reset();
        } else if (codec_ == AviAudioCodec::Adpcm) {
            openAdpcm();
        }
    }

    void drain() {
        if (pcm_.pending > 0) sink_.consume(pcm_);
        pcm_.pending = 0;
    }

  private:
    void openAdpcm() {
        if (adpcmOpen_) orvoadpcmdec.orvo_adpcm_close();
        adpcmOpen_ = f_.audioFormat.size() >= 16 &&
                     orvoadpcmdec.orvo_adpcm_init(f_.audioFormat.data(),
                                                  static_cast<int>(f_.audioFormat.size())) == 0;
    }

    void findRoute(const uint8_t* b, size_t n) {
        for (size_t i = 0; i + 4 <= n; ++i) {
            MpegAudioHeader h;
            if (b[i] == 0xFF && (b[i + 1] & 0xE0) == 0xE0 && parseMpegAudioHeader(b + i, h)) {
                route_ = routeForHeader(b + i);
                routeKnown_ = true;
                return;
            }
        }
    }

    // Raw PCM: 16-bit samples as they are, 8-bit (unsigned) widened.
    void pcmChunk(const uint8_t* b, size_t n) {
        if (f_.bitsPerSample == 8) {
            std::vector<uint8_t> wide(n * 2);
            for (size_t i = 0; i < n; ++i) {
                int16_t s = static_cast<int16_t>((int(b[i]) - 128) << 8);
                std::memcpy(wide.data() + 2 * i, &s, 2);
            }
            append(wide.data(), static_cast<int>(wide.size()));
            return;
        }
        // A chunk may end inside a sample: the odd byte waits for the next one.
        std::vector<uint8_t> bytes;
        bytes.reserve(n + 1);
        if (pcmCarry_) bytes.push_back(carryByte_);
        bytes.insert(bytes.end(), b, b + n);
        pcmCarry_ = bytes.size() & 1;
        if (pcmCarry_) {
            carryByte_ = bytes.back();
            bytes.pop_back();
        }
        append(bytes.data(), static_cast<int>(bytes.size()));
    }

    void append(const uint8_t* b, int n) {
        while (n > 0) {
            int room = kPcmBufferBytes - pcm_.pending;
            if (room <= 0) {
                drain();
                continue;
            }
            int take = std::min(room, n);
            std::memcpy(pcm_.data() + pcm_.pending, b, static_cast<size_t>(take));
            pcm_.pending += take;
            b += take;
            n -= take;
        }
    }

    const AviFile& f_;
    AviAudioCodec codec_;
    PcmBuffer& pcm_;
    PcmSinkPath& sink_;
    Demuxer demux_;
    MpegDecoder mpeg_;
    DecoderRoute route_ = DecoderRoute::MpegAudioLibrary;
    bool routeKnown_ = false;
    bool adpcmOpen_ = false;
    std::vector<uint8_t> adpcmOut_;
    size_t pcmCarry_ = 0;
    uint8_t carryByte_ = 0;
};

} // namespace

AviAudioReader::AviAudioReader(RunFlags flags, PcmBuffer& pcm, int libraryInstance)
    : flags_(flags), pcm_(pcm), libraryInstance_(libraryInstance) {}

AviAudioReader::~AviAudioReader() = default;

AviReadResult AviAudioReader::open(const std::string& path) {
    path_ = path;
    int rc = avi_.open(path, true);
    if (rc == kAviOpen) return AviReadResult::FileFailed;
    return rc == kAviNoError ? AviReadResult::Ended : AviReadResult::ReaderFailed;
}

void AviAudioReader::read(const ReaderEntry& e, PcmSinkPath& sink, PositionReport report,
                          void* context) {
    const AviFile& f = avi_.info();
    const size_t chunks = f.audioIndex.size();
    pcm_.pending = 0;
    ChunkDecoder dec(f, pcm_, sink, flags_, libraryInstance_, path_);
    std::vector<uint8_t> chunk;
    size_t i = 0;
    int lastSecond = -1;
    bool cut = false; // the file ended inside a chunk
    while (flags_.running.load() && !sink.failed() && i < chunks && !cut) {
        if (flags_.paused.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        int req = flags_.seekRequest.load();
        if (req != 0) {
            i = aviSeekChunk(req - 100, e.durationSec, chunks);
            dec.reset();
            pcm_.pending = 0;
            flags_.seekRequest = 0;
            flags_.seekDragging = false;
            continue;
        }
        if (f.audioIndex[i].length > kMaxAudioChunk) {
            ++i; // no real audio chunk is this long: a damaged index entry
            continue;
        }
        long got = avi_.readAudioChunk(i, chunk);
        if (got < 0) break;
        cut = static_cast<uint32_t>(got) < f.audioIndex[i].length;
        int second = aviPositionSecond(i, e.durationSec, chunks);
        if (second != lastSecond && !flags_.seekDragging.load()) {
            lastSecond = second;
            if (report) report(second, context);
        }
        ++i;
        dec.decode(chunk.data(), static_cast<size_t>(got));
        if (pcm_.pending > 0) dec.drain();
    }
    if (flags_.running.load() && !sink.failed()) {
        dec.finish();
        if (pcm_.pending > 0) dec.drain();
    }
    pcm_.pending = 0;
}

namespace {

// The stream probe's verdict on the source as it is now: an MPEG-4 AVI with
// entries in its audio index. False as well when the probe cannot be loaded
// (its loader has said so).
bool probedAsMpeg4Avi(const std::string& path, bool& loaded) {
    loaded = mxscanLoaded() || loadMxscan() >= 0;
    if (!loaded) return false;
    std::lock_guard<std::mutex> lock(mxscanLock());
    mxscan.mux_init();
    return mxscan.open_stream(path.c_str()) >= 0 && mxscan.mux_get_main_stream() == 9 &&
           mxscan.get_mpeg4_aindex_num() > 0;
}

} // namespace

AviReadResult readMpeg4Avi(AviWorker worker, const ReaderEntry& e, PcmOutput* out,
                           PositionReport report, void* context, PcmBuffer* pcm) {
    bool probeLoaded = false;
    if (!probedAsMpeg4Avi(e.path, probeLoaded)) {
        if (probeLoaded) showMessage(caption::kMain, formatText(text::kAviProbeFailed, e.path));
        return AviReadResult::ProbeFailed;
    }
    std::unique_ptr<PcmBuffer> own(pcm ? nullptr : new PcmBuffer);
    AviAudioReader reader(processRunFlags(), pcm ? *pcm : *own, kMainLibraryInstance);
    const bool converting = worker == AviWorker::Conversion;
    AviReadResult rc = reader.open(e.path);
    if (rc == AviReadResult::FileFailed) {
        showMessage(caption::kMainWide, converting ? std::string(text::kAviConvertOpenFailed)
                                                   : formatText(text::kAviPlayOpenFailed, e.path));
        return rc;
    }
    if (rc == AviReadResult::ReaderFailed) {
        showMessage(converting ? caption::kMain : "",
                    converting ? formatText(text::kAviConvertReaderFailed, e.path)
                               : std::string(text::kAviPlayReaderFailed));
        return rc;
    }
    if (converting) window().statusText(formatText(text::kAviConvertStart, e.path));
    StageSink sink(out, e.rateRatio, e.sourceChannels);
    reader.read(e, sink, report, context);
    return AviReadResult::Ended;
}

} // namespace kestrel
