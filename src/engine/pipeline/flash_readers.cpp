#include "engine/pipeline/flash_readers.h"

#include "engine/catalogue/flash_media.h"
#include "engine/containers/flash_adpcm.h"
#include "engine/containers/flv.h"
#include "engine/containers/swf.h"
#include "engine/core/captions.h"
#include "engine/core/mpeg_audio_header.h"
#include "engine/core/text_format.h"
#include "engine/libraries/lib_mpadec_ext.h"
#include "engine/libraries/lib_orvoaacdec.h"
#include "engine/libraries/lib_orvomtvdec.h"
#include "engine/pipeline/pcm_trim.h"
#include "engine/pipeline/texts.h"
#include "platform/paths.h"
#include "platform/ports.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <chrono>
#include <cstring>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace kestrel {

bool flashSourceFor(const std::string& t, FlashSource& source) {
    const std::string head = t.substr(0, 3);
    if (head == "FLV")
        source = FlashSource::Flv;
    else if (head == "SWF")
        source = FlashSource::Swf;
    else if (head == "MTV")
        source = FlashSource::Mtv;
    else if (head == "AMV")
        source = FlashSource::Amv;
    else
        return false;
    return true;
}

int loadFlashLibraries(FlashSource s) {
    if (loadMpadecExt() < 0) return -1;
    if (s == FlashSource::Flv && loadOrvoaacdec() < 0) {
        unloadMpadecExt();
        return -1;
    }
    if ((s == FlashSource::Mtv || s == FlashSource::Amv) && loadOrvomtvdec() < 0) {
        unloadMpadecExt();
        return -1;
    }
    return 0;
}

void unloadFlashLibraries(FlashSource s) {
    if (s == FlashSource::Mtv || s == FlashSource::Amv) unloadOrvomtvdec();
    if (s == FlashSource::Flv) unloadOrvoaacdec();
    unloadMpadecExt();
}

size_t unitForSecond(int second, int durationSec, size_t units) {
    if (durationSec <= 0 || second <= 0 || units == 0) return 0;
    // Rounded up, so that the position the unit shows is the second asked for.
    const double at =
        std::ceil(static_cast<double>(second) / durationSec * static_cast<double>(units) - 1e-9);
    return at >= static_cast<double>(units) ? units : static_cast<size_t>(at);
}

namespace {

// Appends decoded PCM to the reader's buffer, handing it to the sink
// whenever the buffer is full.
class PcmFill {
  public:
    PcmFill(PcmBuffer& pcm, PcmSinkPath& sink) : pcm_(pcm), sink_(sink) {}
    void flush() {
        if (pcm_.pending > 0) sink_.consume(pcm_);
        pcm_.pending = 0;
    }
    size_t room() const { return static_cast<size_t>(kPcmBufferBytes - pcm_.pending); }
    // Makes room for at least `bytes`.
    void reserve(size_t bytes) {
        if (room() < bytes) flush();
    }
    uint8_t* end() { return pcm_.data() + pcm_.pending; }
    void added(size_t bytes) { pcm_.pending += static_cast<int32_t>(bytes); }
    void put(const uint8_t* b, size_t n) {
        while (n > 0) {
            reserve(2);
            const size_t k = std::min(room() & ~size_t(1), n);
            std::memcpy(end(), b, k);
            added(k);
            b += k;
            n -= k;
        }
    }
    // 8-bit unsigned samples as 16-bit ones.
    void putUnsigned8(const uint8_t* b, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            reserve(2);
            const int16_t v = static_cast<int16_t>((int(b[i]) - 128) << 8);
            std::memcpy(end(), &v, 2);
            added(2);
        }
    }
    // Decodes Flash ADPCM into the buffer until the decoder has no more.
    void putAdpcm(FlashAdpcmDecoder& d, size_t maxSamples = SIZE_MAX) {
        while (maxSamples > 0) {
            reserve(4096);
            const size_t cap = std::min(room() / 2, maxSamples);
            const size_t n = d.decode(reinterpret_cast<int16_t*>(end()), cap);
            if (n == 0) break;
            added(n * 2);
            maxSamples -= n;
        }
    }

  private:
    PcmBuffer& pcm_;
    PcmSinkPath& sink_;
};

// The source's units, as the loop below reads them.
struct Units {
    size_t count = 0;
    std::function<int(size_t)> secondOf; // position shown while unit i is read
    std::function<bool(size_t)> decode;  // false: the source ends here
    std::function<void()> seeked;        // drop decoder state after a jump
    std::function<void()> finish;        // hand over what the decoders hold
    std::function<void()> shape;         // applied to the PCM before the sink takes it
};

void unitLoop(MpegReader& r, const ReaderEntry& e, Units& u, PcmSinkPath& sink,
              PositionReport report, void* context) {
    RunFlags flags = r.flags();
    PcmBuffer& pcm = r.pcm();
    size_t i = 0;
    int lastSecond = -1;
    while (flags.running.load() && !sink.failed()) {
        if (flags.paused.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        int req = flags.seekRequest.load();
        if (req != 0) {
            i = unitForSecond(req - 100, e.durationSec, u.count);
            if (u.seeked) u.seeked();
            flags.seekRequest = 0;
            flags.seekDragging = false;
            continue;
        }
        if (i >= u.count) break;
        int second = u.secondOf(i);
        if (second != lastSecond && !flags.seekDragging.load()) {
            lastSecond = second;
            if (report) report(second, context);
        }
        const bool more = u.decode(i);
        ++i;
        if (u.shape) u.shape();
        if (pcm.pending > 0) sink.consume(pcm);
        pcm.pending = 0;
        if (!more) break;
    }
    if (flags.running.load() && !sink.failed() && u.finish) {
        u.finish();
        if (u.shape) u.shape();
        if (pcm.pending > 0) sink.consume(pcm);
    }
    pcm.pending = 0;
}

// Where MPEG audio goes: the reader's frame assembler, with the decoder
// route of the stream's first frame header.
class MpegFeed {
  public:
    explicit MpegFeed(MpegReader& r) : r_(r) {}
    void start(const std::string& path) {
        r_.demuxer().demuxReset(kDemuxMpegAudio);
        r_.decoder().start(path);
        routeKnown_ = false;
    }
    void feed(const uint8_t* b, size_t n) {
        if (!routeKnown_) {
            for (size_t k = 0; k + 4 <= n; ++k) {
                MpegAudioHeader h;
                if (b[k] == 0xFF && parseMpegAudioHeader(b + k, h)) {
                    route_ = routeForHeader(b + k);
                    routeKnown_ = true;
                    break;
                }
            }
            if (!routeKnown_) return; // no frame seen yet: nothing to decode
        }
        r_.demuxer().feedMpegAudio(b, static_cast<int>(n), route_, true);
    }
    void seeked() {
        r_.demuxer().demuxSeek();
        r_.decoder().reset();
    }
    void finish() { r_.demuxer().demuxFinish(); }
    void stop() { r_.decoder().stop(); }

  private:
    MpegReader& r_;
    DecoderRoute route_ = DecoderRoute::MpegAudioLibrary;
    bool routeKnown_ = false;
};

void openFailed(const std::string& path) {
    const int err = errno;
    showMessage(caption::kMainWide, formatText(text::kOpenSourceFailed, path), err);
}

ReaderResult readFlv(MpegReader& r, const ReaderEntry& e, PcmSinkPath& sink, PositionReport report,
                     void* context) {
    FILE* f = openSource(e.path);
    if (!f) {
        openFailed(e.path);
        return ReaderResult::OpenFailed;
    }
    struct stat st;
    const uint64_t size = ::fstat(fileno(f), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    std::vector<FlvIndexEntry> index;
    buildFlvIndex(f, size, index);
    PcmFill out(r.pcm(), sink);
    MpegFeed mpeg(r);
    mpeg.start(e.path);
    bool aacOpen = false;
    std::vector<uint8_t> tag;
    Units u;
    u.count = index.size();
    u.secondOf = [&](size_t i) { return static_cast<int>(index[i].timestamp / 1000); };
    u.decode = [&](size_t i) {
        const FlvIndexEntry& t = index[i];
        // The audio header byte before the payload says how to decode it.
        tag.resize(size_t(t.length) + 1);
        if (fseeko(f, static_cast<off_t>(t.offset - 1), SEEK_SET) != 0 ||
            std::fread(tag.data(), 1, tag.size(), f) != tag.size())
            return false;
        const uint8_t h = tag[0];
        const uint8_t* p = tag.data() + 1;
        const size_t n = t.length;
        const int format = h >> 4;
        const int channels = (h & 1) ? 2 : 1;
        switch (format) {
        case kFlvMp3:
        case kFlvMp3At8k:
            mpeg.feed(p, n);
            break;
        case kFlvAac:
            if (n < 1) break;
            if (p[0] == 0) {
                int rate = 0, ch = 0;
                aacOpen = orvoaacdec.aacdecodebuf_init(p + 1, static_cast<int>(n - 1), 1000, 44100,
                                                       &rate, &ch) >= 0;
            } else if (aacOpen) {
                out.reserve(AACDEC_FRAME_PCM_BYTES);
                int got = orvoaacdec.aacbuf_decode(p + 1, static_cast<int>(n - 1), out.end(),
                                                   static_cast<int>(out.room()));
                if (got > 0) out.added(static_cast<size_t>(got));
            }
            break;
        case kFlvAdpcm: {
            FlashAdpcmDecoder d;
            d.begin(p, n, channels);
            out.putAdpcm(d);
            break;
        }
        case kFlvPcm:
        case kFlvPcmLe:
            if (h & 2)
                out.put(p, n & ~size_t(1));
            else
                out.putUnsigned8(p, n);
            break;
        default: // formats without a decoder here are skipped
            break;
        }
        return true;
    };
    u.seeked = [&] { mpeg.seeked(); };
    u.finish = [&] { mpeg.finish(); };
    r.decoder().setDrain([&] { out.flush(); });
    unitLoop(r, e, u, sink, report, context);
    r.decoder().setDrain(nullptr);
    mpeg.stop();
    if (aacOpen) orvoaacdec.aacdecodebuf_close();
    std::fclose(f);
    return ReaderResult::Ended;
}

// One piece of an SWF sound: a stream block, or a stretch of an event sound.
struct SwfPiece {
    const uint8_t* data;
    size_t size;
};

ReaderResult readSwf(MpegReader& r, const ReaderEntry& e, PcmSinkPath& sink, PositionReport report,
                     void* context) {
    SwfMovie movie;
    if (loadSwfMovie(e.path, movie) < 0) return ReaderResult::OpenFailed;
    const SwfSoundFormat& fmt = movie.sound();
    const uint8_t* base = movie.data.data();
    PcmFill out(r.pcm(), sink);
    MpegFeed mpeg(r);
    mpeg.start(e.path);
    Units u;
    std::vector<SwfPiece> blocks;
    FlashAdpcmDecoder adpcm;
    PcmTrim mp3Trim;
    const bool isMp3 = fmt.format == kSwfMp3;
    const bool isAdpcm = fmt.format == kSwfAdpcm;
    const bool isPcm = fmt.format == kSwfPcm || fmt.format == kSwfPcmLe;
    const size_t frameBytes = size_t(fmt.channels > 0 ? fmt.channels : 1) * (fmt.bits == 8 ? 1 : 2);
    auto putPcm = [&](const uint8_t* p, size_t n) {
        if (fmt.bits == 8)
            out.putUnsigned8(p, n);
        else
            out.put(p, n & ~size_t(1));
    };
    if (movie.playsStream()) {
        for (const auto& s : movie.sounds)
            if (s.code == kSwfSoundStreamBlock) {
                // MPEG audio blocks begin with their sample count and seek.
                const size_t skip = isMp3 ? std::min<size_t>(4, s.length) : 0;
                blocks.push_back({base + s.offset + skip, s.length - skip});
            }
        u.count = blocks.size();
        u.decode = [&](size_t i) {
            const SwfPiece& b = blocks[i];
            if (isMp3) {
                mpeg.feed(b.data, b.size);
            } else if (isAdpcm) {
                adpcm.begin(b.data, b.size, fmt.channels);
                out.putAdpcm(adpcm);
            } else if (isPcm) {
                putPcm(b.data, b.size);
            }
            return true;
        };
    } else {
        const SwfSoundEntry* ev = nullptr;
        for (const auto& s : movie.sounds)
            if (s.code == kSwfDefineSound) {
                ev = &s;
                break;
            }
        // The sound data follows the 7-byte header (and the seek samples of
        // MPEG audio); it is read in pieces so that seeks work within it.
        const size_t skip = isMp3 ? 9 : 7;
        SwfPiece whole{nullptr, 0};
        if (ev && ev->length > skip) whole = {base + ev->offset + skip, ev->length - skip};
        // MPEG audio: the decoded sound begins with the encoder's and the
        // decoder's delay, as many samples as the seek samples say; the
        // sound's sample count ends it.
        if (isMp3 && whole.data) {
            int16_t seekSamples = 0;
            std::memcpy(&seekSamples, base + ev->offset + 7, 2); // little-endian
            mp3Trim.skipFrames = std::max<int16_t>(seekSamples, 0);
            if (fmt.sampleCount > 0) mp3Trim.remainingFrames = fmt.sampleCount;
        }
        if (isAdpcm && whole.data) {
            adpcm.begin(whole.data, whole.size, fmt.channels);
            u.count = adpcm.packets();
        } else if (whole.data) {
            const size_t piece = isPcm ? 4096 * frameBytes : 4096;
            for (size_t o = 0; o < whole.size; o += piece)
                blocks.push_back({whole.data + o, std::min(piece, whole.size - o)});
            u.count = blocks.size();
        }
        u.decode = [&](size_t i) {
            if (isAdpcm) {
                adpcm.seekPacket(i);
                out.putAdpcm(adpcm, 4096 * size_t(fmt.channels == 2 ? 2 : 1));
            } else if (isMp3) {
                mpeg.feed(blocks[i].data, blocks[i].size);
            } else if (isPcm) {
                putPcm(blocks[i].data, blocks[i].size);
            }
            return true;
        };
    }
    u.secondOf = [&](size_t i) {
        return u.count ? static_cast<int>(double(i) / double(u.count) * e.durationSec) : 0;
    };
    u.seeked = [&] {
        mpeg.seeked();
        mp3Trim.seeked();
    };
    u.finish = [&] { mpeg.finish(); };
    u.shape = [&] { mp3Trim.apply(r.pcm(), r.decoder().channels()); };
    r.decoder().setDrain([&] {
        u.shape();
        out.flush();
    });
    unitLoop(r, e, u, sink, report, context);
    r.decoder().setDrain(nullptr);
    mpeg.stop();
    return ReaderResult::Ended;
}

ReaderResult readMtvAmv(MpegReader& r, const ReaderEntry& e, PcmSinkPath& sink,
                        PositionReport report, void* context, bool amv) {
    OrvomtvdecApi& d = orvomtvdec;
    if ((amv ? d.amv_init(e.path.c_str()) : d.mtv_init(e.path.c_str())) < 0) {
        showMessage(caption::kMainWide, formatText(text::kOpenSourceFailed, e.path));
        return ReaderResult::OpenFailed;
    }
    int rate = 0, channels = 0, blocks = 0;
    if ((amv ? d.amv_getaudio(&rate, &channels, &blocks)
             : d.mtv_getaudio(&rate, &channels, &blocks)) < 0)
        blocks = 0;
    PcmFill out(r.pcm(), sink);
    MpegFeed mpeg(r);
    mpeg.start(e.path);
    std::vector<uint8_t> block(MTVDEC_MAX_BLOCK);
    Units u;
    u.count = blocks > 0 ? static_cast<size_t>(blocks) : 0;
    u.secondOf = [&](size_t i) {
        return static_cast<int>(double(i) / double(u.count) * e.durationSec);
    };
    u.decode = [&](size_t i) {
        const int n = amv ? d.amv_getdata(static_cast<int>(i), block.data(), MTVDEC_MAX_BLOCK)
                          : d.mtv_getdata(static_cast<int>(i), block.data(), MTVDEC_MAX_BLOCK);
        if (n < 0) return false;
        if (amv) {
            const size_t samples = n >= 8 ? 2 * (size_t(n) - 8) : 0;
            out.reserve(samples * 2);
            const size_t got =
                decodeAmvBlock(block.data(), static_cast<size_t>(n),
                               reinterpret_cast<int16_t*>(out.end()), out.room() / 2);
            out.added(got * 2);
        } else {
            mpeg.feed(block.data(), static_cast<size_t>(n));
        }
        return true;
    };
    u.seeked = [&] { mpeg.seeked(); };
    u.finish = [&] { mpeg.finish(); };
    r.decoder().setDrain([&] { out.flush(); });
    unitLoop(r, e, u, sink, report, context);
    r.decoder().setDrain(nullptr);
    mpeg.stop();
    if (amv)
        d.amv_close();
    else
        d.mtv_close();
    return ReaderResult::Ended;
}

} // namespace

ReaderResult readFlashSource(FlashSource s, MpegReader& r, const ReaderEntry& e, PcmSinkPath& sink,
                             PositionReport report, void* context) {
    switch (s) {
    case FlashSource::Flv:
        return readFlv(r, e, sink, report, context);
    case FlashSource::Swf:
        return readSwf(r, e, sink, report, context);
    case FlashSource::Mtv:
        return readMtvAmv(r, e, sink, report, context, false);
    case FlashSource::Amv:
        return readMtvAmv(r, e, sink, report, context, true);
    }
    return ReaderResult::Ended;
}

ReaderResult readFlashSource(FlashSource s, const ReaderEntry& e, PcmOutput* out,
                             PositionReport report, void* context) {
    MpegReader reader(processRunFlags(), kMainLibraryInstance, true);
    StageSink sink(out, e.rateRatio, e.sourceChannels);
    return readFlashSource(s, reader, e, sink, report, context);
}

} // namespace kestrel
