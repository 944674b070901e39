#include "engine/playback/frame_splitter.h"

#include "engine/containers/gapless.h"
#include "engine/core/mpeg_audio_header.h"
#include "engine/decode/frame_decoder.h"

#include <algorithm>

namespace kestrel {

namespace {

constexpr size_t kGatherFirst = 1200; // until the first frame has been found
constexpr size_t kGather = 400;
constexpr size_t kGatherMax = 8000; // no frame ended within this: start again

// PCM of the longest frame: 1152 samples, two channels, 16 bits.
constexpr int kMaxFramePcm = 1152 * 2 * 2;

bool parseAt(const std::vector<uint8_t>& b, size_t at, MpegAudioHeader& h) {
    return at + 4 <= b.size() && parseMpegAudioHeader(b.data() + at, h);
}

} // namespace

bool MpegFrameSplitter::matches(size_t at) const {
    return at + 4 <= buf_.size() && buf_[at] == head_[0] && buf_[at + 1] == head_[1] &&
           (buf_[at + 3] & 0xCF) == (head_[3] & 0xCF);
}

// Drops the bytes in front of the first confirmed header; false while none is
// found (or its confirmation is not gathered yet).
bool MpegFrameSplitter::findFirst() {
    size_t i = 0;
    for (; i + 4 <= buf_.size(); ++i) {
        MpegAudioHeader h;
        if (buf_[i] != 0xFF || buf_[i + 1] < 0xE0 || !parseAt(buf_, i, h)) continue;
        std::copy_n(buf_.begin() + long(i), 4, head_);
        if (h.frameBytes == 0) break; // free format: its end is searched for
        const size_t next = i + size_t(h.frameBytes);
        if (next + 4 > buf_.size()) {
            // The confirmation is not here yet: keep the candidate.
            buf_.erase(buf_.begin(), buf_.begin() + long(i));
            return false;
        }
        if (matches(next)) break;
    }
    if (i + 4 > buf_.size()) {
        // Keep the last bytes: a header may begin among them.
        size_t keep = std::min<size_t>(buf_.size(), 3);
        buf_.erase(buf_.begin(), buf_.end() - long(keep));
        return false;
    }
    buf_.erase(buf_.begin(), buf_.begin() + long(i));
    synced_ = true;
    return true;
}

void MpegFrameSplitter::emit(size_t length, const FrameFn& frame) {
    MpegAudioHeader h;
    if (!parseAt(buf_, 0, h)) return;
    // A frame shorter than its header says is damaged; what follows a frame
    // before the next header (a tag, garbage) is not part of it.
    const size_t whole =
        h.frameBytes > 0 ? size_t(h.frameBytes) : size_t(h.headerBytes + h.sideInfoBytes + 1);
    if (length < whole) return;
    if (h.frameBytes > 0) length = whole;
    if (length > size_t(kFrameRecordData)) return;
    frame(buf_.data(), int(length));
}

void MpegFrameSplitter::split(const FrameFn& frame, bool atEnd) {
    for (;;) {
        if (!synced_) {
            if (buf_.size() < kGatherFirst && !atEnd) return;
            if (!findFirst()) {
                if (buf_.size() > kGatherMax) buf_.clear();
                return;
            }
        }
        if (buf_.size() < kGather && !atEnd) return;
        MpegAudioHeader h;
        const bool parsed = parseAt(buf_, 0, h);
        const size_t expected = parsed ? size_t(h.frameBytes) : 0;
        size_t end = 0;
        if (expected > 0 && expected + 4 > buf_.size() && !atEnd) {
            if (buf_.size() <= kGatherMax) return; // the frame is not whole yet
        } else if (expected > 0 && matches(expected)) {
            end = expected;
        }
        if (end == 0) {
            for (size_t i = 4; i + 4 <= buf_.size(); ++i)
                if (matches(i)) {
                    end = i;
                    break;
                }
        }
        if (end == 0) {
            if (atEnd) {
                emit(buf_.size(), frame); // the last frame, when whole
                buf_.clear();
                return;
            }
            if (buf_.size() > kGatherMax) {
                buf_.clear();
                synced_ = false;
            }
            return;
        }
        emit(end, frame);
        buf_.erase(buf_.begin(), buf_.begin() + long(end));
    }
}

void MpegFrameSplitter::feed(const uint8_t* p, size_t n, const FrameFn& frame) {
    buf_.insert(buf_.end(), p, p + n);
    split(frame, false);
}

void MpegFrameSplitter::finish(const FrameFn& frame) {
    split(frame, true);
    buf_.clear();
}

ManagerFrameDecoder::~ManagerFrameDecoder() {
    if (slotOpen_) mp3_close(kManagerFrameSlot);
    if (stream_) mp3dec_close(stream_);
}

void ManagerFrameDecoder::frame(const uint8_t* bytes, int length) {
    MpegAudioHeader h;
    if (length < 4 || !parseMpegAudioHeader(bytes, h)) return;
    if (!started_) {
        started_ = true;
        rate_ = h.sampleRate;
        channels_ = h.channels;
        // Layer III of MPEG-2 and 2.5 goes to the stream decoder; everything
        // else (MPEG-1, and Layers I and II) to the frame decoder.
        useFrameDecoder_ = h.versionIndex == 0 || h.layer != 3;
        if (useFrameDecoder_) {
            record_.assign(kFrameRecordBytes, 0);
            makeFrameRecord(record_.data(), bytes, length);
            slotOpen_ = mp3_open(kManagerFrameSlot, record_.data()) == 1;
        } else if (mp3dec_open(&stream_, 0, 0, 0, 1) != SSC_OK) {
            stream_ = nullptr;
        }
        GaplessInfo g = parseGaplessTag(bytes, size_t(length));
        if (g.tagFrame) {
            if (g.delay >= 0) {
                trim_.skipFrames = g.delay + kDecoderDelay;
                if (g.frames > 0 && g.padding >= 0) {
                    int64_t total = int64_t(g.frames) * g.samplesPerFrame - g.delay - g.padding;
                    if (total > 0) trim_.remainingFrames = total;
                }
            }
            return; // the tag frame is no sound
        }
    }
    if (useFrameDecoder_) {
        if (!slotOpen_) return;
        if (kPcmBufferBytes - pcm_.pending < kMaxFramePcm) flush();
        makeFrameRecord(record_.data(), bytes, length);
        int n = mp3_play(kManagerFrameSlot, record_.data(), 1, pcm_.data() + pcm_.pending,
                         kPcmBufferBytes - pcm_.pending);
        if (n > 0) {
            pcm_.pending += n;
            ++frameFrames_;
        }
        return;
    }
    if (!stream_) return;
    uint32_t offered = 0;
    while (offered < uint32_t(length)) {
        uint32_t accepted = 0;
        mp3dec_feed(stream_, bytes + offered, uint32_t(length) - offered, &accepted);
        offered += accepted;
        pumpStream();
        if (accepted == 0) break; // the decoder's ring is full of undecodable bytes
    }
}

// Decodes every frame mp3dec can give now.
void ManagerFrameDecoder::pumpStream() {
    for (;;) {
        if (kPcmBufferBytes - pcm_.pending < kMaxFramePcm) flush();
        uint32_t produced = 0;
        Mp3Ssc s = mp3dec_decode(stream_, pcm_.data() + pcm_.pending,
                                 uint32_t(kPcmBufferBytes - pcm_.pending), &produced);
        if (produced > 0) {
            pcm_.pending += int32_t(produced);
            ++streamFrames_;
        }
        if (s == SSC_W_MPGA_SYNCLOST) continue; // the core is reset; search on
        if (produced == 0 && (sscIsWarning(s) || sscIsError(s))) return;
    }
}

void ManagerFrameDecoder::flush() {
    trim_.apply(pcm_, channels_);
    if (pcm_.pending > 0 && out_) out_(pcm_, rate_, channels_);
    pcm_.pending = 0;
}

void ManagerFrameDecoder::finish() {
    if (stream_) {
        mp3dec_end_of_input(stream_);
        pumpStream();
    }
    flush();
}

} // namespace kestrel
