#include "engine/pipeline/mpeg_decoding.h"

#include "ac3stream/ac3stream.h"
#include "engine/core/captions.h"
#include "engine/core/mpeg_audio_header.h"
#include "engine/decode/frame_decoder.h"
#include "engine/libraries/lib_ac3stream.h"
#include "engine/libraries/lib_mpadec_ext.h"
#include "engine/decode/mp3dec.h"
#include "engine/pipeline/texts.h"
#include "engine/core/run_state.h"
#include "engine/core/text_format.h"
#include "platform/ports.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace kestrel {

// A batch of the demultiplexer is handed to either decoder as it is.
static_assert(sizeof(FrameSlot) == kFrameRecordBytes && sizeof(FrameSlot) == MPADEC_SLOT_BYTES);
static_assert(kFrameSlotBytes == kFrameRecordData && kFrameSlotBytes == MPADEC_FRAME_BYTES);

namespace {

// PCM of the longest MPEG audio frame: 1152 samples, two channels, 16 bits.
constexpr int kMaxMpegFramePcm = 1152 * 2 * 2;

// Sample frames over which the sound fades in after a jump.
constexpr int kFadeInFrames = 1152;

bool isFreeFormat(const uint8_t* h) {
    return (h[2] >> 4) == 0;
}

} // namespace

struct MpegDecoder::Impl {
    PcmBuffer& pcm;
    const std::atomic<bool>* run;
    int instance;
    bool mayUseAc3;
    Impl(PcmBuffer& p, const std::atomic<bool>& r, int inst, bool ac3)
        : pcm(p), run(&r), instance(inst), mayUseAc3(ac3) {}

    bool libraryOpen = false;
    bool ac3Open = false;
    mp3dec_t stream = nullptr;
    // Frame bytes for mp3dec that its input ring has not taken yet.
    std::vector<uint8_t> unfed;
    size_t unfedAt = 0;
    int rate = 0, channels = 0;
    std::string path;
    std::function<void()> drain;
    MpegDecodingStats stats;
    // After a jump the decoders start without the overlap and filterbank
    // history of the blocks before, and their first output overshoots the
    // sound by up to a fifth: it fades in over its first sample frames
    // (leading silence does not count).
    int fadeDone = kFadeInFrames;

    // Applies the fade to the PCM appended since `before` (byte count).
    void fadeInAfterJump(int before) {
        if (fadeDone >= kFadeInFrames || channels <= 0) return;
        int16_t* s = reinterpret_cast<int16_t*>(pcm.data() + before);
        int frames = (pcm.pending - before) / (2 * channels);
        for (int f = 0; f < frames && fadeDone < kFadeInFrames; ++f, s += channels) {
            bool silent = true;
            for (int c = 0; c < channels; ++c)
                silent = silent && s[c] == 0;
            if (silent && fadeDone == 0) continue;
            for (int c = 0; c < channels; ++c)
                s[c] = int16_t(s[c] * fadeDone / kFadeInFrames);
            ++fadeDone;
        }
    }

    void mpegFrames(const FrameSlot* slots, int count, DecoderRoute route, bool first) {
        if (count <= 0) return;
        if (first) formatChange(slots[0].data);
        if (route == DecoderRoute::BuiltIn)
            streamFrames(slots, count, first);
        else
            libraryFrames(slots, count, first);
    }

    void ac3Frame(const uint8_t* frame, int length) {
        if (!mayUseAc3) {
            stats.ac3Refused = true;
            return;
        }
        if (!ac3stream.ac3buf_readdata) return;
        if (!ac3Open) {
            ac3Open = ac3stream.ac3buf_init() >= 0;
            channels = 2;
        }
        if (!ac3Open) return;
        makeRoom(AC3STREAM_FRAME_PCM_BYTES);
        // What does not fit stays in the library and comes first next time.
        int space = std::max(0, kPcmBufferBytes - pcm.pending);
        int written = 0;
        int before = pcm.pending;
        int n = ac3stream.ac3buf_readdata(frame, length, pcm.data() + pcm.pending, space, &written);
        if (n > 0) pcm.pending += n;
        fadeInAfterJump(before);
    }

    // Hands the waiting PCM on when fewer than `need` bytes are free; true
    // when that made room.
    bool makeRoom(int need) {
        if (kPcmBufferBytes - pcm.pending >= need) return true;
        if (!drain || pcm.pending <= 0) return false;
        int before = pcm.pending;
        drain();
        ++stats.drains;
        return pcm.pending < before && kPcmBufferBytes - pcm.pending >= need;
    }

    // MPEG-1 (and Layer I/II of MPEG-2/2.5): batches to the library.
    void libraryFrames(const FrameSlot* slots, int count, bool first) {
        if (!mpadecExtLoaded()) return;
        const uint8_t* records = reinterpret_cast<const uint8_t*>(slots);
        if (first || !libraryOpen) {
            libraryOpen = mpadec_ext.mp3_open(instance, records) > 0;
            noteHeader(slots[0].data);
        }
        if (!libraryOpen) return;
        makeRoom(count * kMaxMpegFramePcm);
        int space = std::max(0, kPcmBufferBytes - pcm.pending);
        int before = pcm.pending;
        int n = mpadec_ext.mp3_play(instance, records, count, pcm.data() + pcm.pending, space);
        if (n > 0) pcm.pending += n;
        fadeInAfterJump(before);
        // A full buffer may leave PCM inside the library: fetch it after
        // making room.
        while (n > 0 && pcm.pending >= kPcmBufferBytes && makeRoom(kMaxMpegFramePcm)) {
            space = kPcmBufferBytes - pcm.pending;
            before = pcm.pending;
            n = mpadec_ext.mp3_play(instance, records, 0, pcm.data() + pcm.pending, space);
            if (n > 0) pcm.pending += n;
            fadeInAfterJump(before);
        }
    }

    // MPEG-2/2.5 Layer III: the frames' bytes to mp3dec.
    void streamFrames(const FrameSlot* slots, int count, bool first) {
        if (first) closeStream();
        if (stats.freeFormatRefused) return;
        if (!stream) {
            if (isFreeFormat(slots[0].data)) {
                stats.freeFormatRefused = true;
                showMessage(caption::kMain, formatText(text::kFreeFormatLayer3Refused, path));
                return;
            }
            if (mp3dec_open(&stream, 0, 0, 0, 1) != SSC_OK) {
                stream = nullptr;
                return;
            }
            noteHeader(slots[0].data);
        }
        if (unfedAt > 0) {
            unfed.erase(unfed.begin(), unfed.begin() + long(unfedAt));
            unfedAt = 0;
        }
        for (int i = 0; i < count; ++i)
            unfed.insert(unfed.end(), slots[i].data, slots[i].data + slots[i].length);
        pumpStream();
    }

    // The calling pattern of mp3dec: feed, decode one frame behind the PCM
    // already waiting, repeat with the unfed rest.
    void pumpStream() {
        while (run->load(std::memory_order_relaxed)) {
            uint32_t accepted = 0;
            if (unfedAt < unfed.size()) {
                mp3dec_feed(stream, unfed.data() + unfedAt, uint32_t(unfed.size() - unfedAt),
                            &accepted);
                unfedAt += accepted;
            }
            uint32_t produced = 0;
            Mp3Ssc s = mp3dec_decode(stream, pcm.data() + pcm.pending,
                                     uint32_t(kPcmBufferBytes - pcm.pending), &produced);
            if (produced > 0) {
                int before = pcm.pending;
                pcm.pending += int32_t(produced);
                ++stats.streamFrames;
                fadeInAfterJump(before);
            }
            if (s == SSC_E_MPGA_BUFFERTOOSMALL) {
                if (!makeRoom(kMaxMpegFramePcm)) break; // the rest waits for the next call
                continue;
            }
            if (s == SSC_W_MPGA_SYNCLOST) {
                ++stats.syncLosses; // the core is reset; search on
                continue;
            }
            if (sscIsWarning(s) || sscIsError(s)) {
                // More input may complete a frame or the search; without any
                // the stream waits for its next frames.
                if (accepted > 0) continue;
                break;
            }
        }
        if (unfedAt == unfed.size()) {
            unfed.clear();
            unfedAt = 0;
        }
    }

    // A stream of another rate or channel count begins: the PCM of the one
    // before is handed on while the reader still knows its format.
    void formatChange(const uint8_t* h) {
        MpegAudioHeader header;
        if (pcm.pending <= 0 || rate <= 0 || !drain || !parseMpegAudioHeader(h, header)) return;
        if (header.sampleRate == rate && header.channels == channels) return;
        drain();
        ++stats.drains;
    }

    void noteHeader(const uint8_t* h) {
        MpegAudioHeader header;
        if (!parseMpegAudioHeader(h, header)) return;
        rate = header.sampleRate;
        channels = header.channels;
    }

    void closeStream() {
        if (stream) mp3dec_close(stream);
        stream = nullptr;
        unfed.clear();
        unfedAt = 0;
    }

    void closeAll() {
        if (libraryOpen && mpadecExtLoaded()) mpadec_ext.mp3_close(instance);
        closeStream();
        if (ac3Open && ac3stream.ac3buf_close) ac3stream.ac3buf_close();
        libraryOpen = ac3Open = false;
    }
};

MpegDecoder::MpegDecoder(PcmBuffer& pcm, const std::atomic<bool>& runFlag, int libraryInstance,
                         bool mayUseAc3)
    : impl_(std::make_unique<Impl>(pcm, runFlag, libraryInstance, mayUseAc3)) {}

MpegDecoder::~MpegDecoder() {
    impl_->closeAll();
}

void MpegDecoder::mpegFrames(const FrameSlot* slots, int count, DecoderRoute route, bool first) {
    impl_->mpegFrames(slots, count, route, first);
}

void MpegDecoder::ac3Frame(const uint8_t* frame, int length) {
    impl_->ac3Frame(frame, length);
}

void MpegDecoder::start(const std::string& sourcePath) {
    Impl& d = *impl_;
    d.closeAll();
    d.rate = d.channels = 0;
    d.path = sourcePath;
    d.stats = MpegDecodingStats{};
    d.fadeDone = kFadeInFrames;
    if (mpadecExtLoaded()) mpadec_ext.mp3_init();
}

void MpegDecoder::stop() {
    impl_->closeAll();
    impl_->drain = nullptr;
}

void MpegDecoder::reset() {
    // Closing is the reset: each decoder opens again on the next frame with
    // an empty reservoir and zeroed overlap and synthesis state (the AC-3
    // decoder likewise drops its overlap). The stream facts stay.
    impl_->closeAll();
    impl_->fadeDone = 0;
}

void MpegDecoder::setDrain(std::function<void()> hook) {
    impl_->drain = std::move(hook);
}

int MpegDecoder::rate() const {
    return impl_->rate;
}

int MpegDecoder::channels() const {
    return impl_->channels;
}

const MpegDecodingStats& MpegDecoder::stats() const {
    return impl_->stats;
}

MpegDecoder& mainMpegDecoder() {
    static MpegDecoder decoder(mainPcm(), running, kMainLibraryInstance, true);
    return decoder;
}

DemuxOutlet& mpegDecodeOutlet() {
    return mainMpegDecoder();
}

void mpegDecodingStart(const std::string& sourcePath) {
    mainMpegDecoder().start(sourcePath);
    setDemuxOutlet(&mainMpegDecoder());
}

void mpegDecodingStop() {
    mainMpegDecoder().stop();
    setDemuxOutlet(nullptr);
}

void mpegDecodingReset() {
    mainMpegDecoder().reset();
}

void mpegDecodingSetDrain(std::function<void()> hook) {
    mainMpegDecoder().setDrain(std::move(hook));
}

int mpegDecodedRate() {
    return mainMpegDecoder().rate();
}
int mpegDecodedChannels() {
    return mainMpegDecoder().channels();
}

const MpegDecodingStats& mpegDecodingStats() {
    return mainMpegDecoder().stats();
}

} // namespace kestrel
