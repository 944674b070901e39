#include "engine/convert/mp3_encoding.h"

#include "engine/convert/encoder_threads.h"
#include "engine/convert/output_runs.h"
#include "engine/core/mpeg_audio_header.h"
#include "engine/libraries/lib_mp3enc.h"
#include "engine/settings/settings.h"

#include <cerrno>
#include <cstring>

namespace kestrel {

int mp3EncoderSpread(Mp3EncoderState& st, int outputType, int seconds) {
    st.threads = 1;
    if (!st.ready || (outputType != kOutMp3 && outputType != kOutExe && outputType != kOutFlv &&
                      outputType != kOutAvi))
        return 1;
    const int threads = encoderThreadsFor(seconds);
    if (threads <= 1 || !mp3enc.wave_enmp3_threads) return 1;
    if (mp3enc.wave_enmp3_threads(threads) < 0) return 1;
    st.threads = threads;
    return threads;
}

int mp3EncoderSetup(Mp3EncoderState& st, int outputType) {
    st = Mp3EncoderState();
    if (!mp3encLoaded() && loadMp3enc() < 0) return -1;
    const Settings& s = settings;
    const EffectiveOutputFormat& f = outputFormat;
    int rc;
    const int mode = s.mp3_rate_mode;
    if (outputType == kOutFlv || outputType == kOutAvi) {
        rc =
            mp3enc.wave_enmp3init_new(&st.samplesPerCall, &st.outBufferSize, f.out_rate,
                                      f.out_version == 0 ? 128 : 64, f.out_channels, f.out_version);
    } else if (mode == 1) {
        rc = mp3enc.wave_enmp3init_vbr(&st.samplesPerCall, &st.outBufferSize, f.out_rate,
                                       s.mp3_cbr_kbps, f.out_channels, f.out_version,
                                       s.mp3_vbr_quality, s.mp3_vbr_min_kbps, s.mp3_vbr_max_kbps);
    } else if (mode == 2 && outputType != kOutExe) {
        rc = mp3enc.wave_enmp3init_abr(&st.samplesPerCall, &st.outBufferSize, f.out_rate,
                                       s.mp3_cbr_kbps, f.out_channels, f.out_version,
                                       s.mp3_abr_kbps);
    } else {
        rc = mp3enc.wave_enmp3init_new(&st.samplesPerCall, &st.outBufferSize, f.out_rate,
                                       s.mp3_cbr_kbps, f.out_channels, f.out_version);
    }
    if (rc < 0 || st.samplesPerCall <= 0 || st.outBufferSize <= 0) return -1;
    st.inBytes = st.samplesPerCall * 2;
    st.inBuffer.assign(static_cast<size_t>(st.inBytes), 0);
    st.outBuffer.assign(static_cast<size_t>(st.outBufferSize), 0);
    st.ready = true;
    // Every stream starts with the tag's placeholder frame (a constant bit
    // rate gets the "Info" form), written when the output is finished. The
    // frames of an FLV or AVI output go into tags or chunks of the container,
    // which has its own length: they get no tag, and the placeholder is left
    // out.
    st.tagged = outputType != kOutFlv && outputType != kOutAvi;
    st.dropFirstFrame = !st.tagged;
    return 0;
}

namespace {

// Only frame data is used: the returned bytes must start with a frame sync.
void deliver(Mp3EncoderState& st, int n, Mp3FrameSink sink, void* context) {
    if (n <= 0 || st.outBuffer[0] != 0xFF) return;
    const uint8_t* p = st.outBuffer.data();
    if (st.dropFirstFrame && n >= 4) {
        MpegAudioHeader h;
        if (parseMpegAudioHeader(p, h) && h.frameBytes > 0 && h.frameBytes <= n) {
            p += h.frameBytes;
            n -= h.frameBytes;
        }
        st.dropFirstFrame = false;
        if (n <= 0) return;
    }
    // A spread encoder's frames come a segment at a time: a container that
    // carries them gets them a frame at a time.
    if (st.threads > 1 && !st.tagged) {
        MpegAudioHeader h;
        while (n >= 4 && parseMpegAudioHeader(p, h) && h.frameBytes > 0 && h.frameBytes <= n) {
            sink(p, h.frameBytes, context);
            p += h.frameBytes;
            n -= h.frameBytes;
        }
        if (n <= 0) return;
    }
    sink(p, n, context);
}

} // namespace

int mp3EncodeBlock(Mp3EncoderState& st, const uint8_t* pcm, int length, Mp3FrameSink sink,
                   void* context) {
    if (!st.ready || st.encodeFailed) {
        st.encodeFailed = true;
        return -1;
    }
    st.runPcm += static_cast<uint64_t>(length > 0 ? length : 0);
    int produced = 0;
    int p = 0;
    auto* out = st.outBuffer.data();
    while (length - p > 0) {
        int take = length - p > st.inBytes ? st.inBytes : length - p;
        take &= ~1;
        if (take <= 0) break;
        std::memcpy(st.inBuffer.data(), pcm + p, static_cast<size_t>(take));
        p += take;
        int n = mp3enc.wave_enmp3code(reinterpret_cast<const short*>(st.inBuffer.data()), take / 2,
                                      out);
        // 0 only means the encoder is still filling its look-ahead.
        if (n < 0) {
            st.encodeFailed = true;
            return -1;
        }
        deliver(st, n, sink, context);
        produced += n;
    }
    // A spread encoder hands over a joined segment in several calls.
    while (st.threads > 1) {
        int n = mp3enc.wave_enmp3code(reinterpret_cast<const short*>(st.inBuffer.data()), 0, out);
        if (n < 0) {
            st.encodeFailed = true;
            return -1;
        }
        if (n == 0) break;
        deliver(st, n, sink, context);
        produced += n;
    }
    return produced;
}

int mp3EncoderFinish(Mp3EncoderState& st, Mp3FrameSink sink, void* context, FILE* stream) {
    if (!st.ready) return 0;
    // The flush comes in calls of at most outBufferSize bytes.
    int n = 0;
    for (int got; (got = mp3enc.wave_enmp3end(st.outBuffer.data())) > 0;) {
        deliver(st, got, sink, context);
        n += got;
    }
    if (stream) mp3WriteRun(st);
    if (st.tagged && stream && st.firstFrameAt >= 0 && !st.writeFailed) {
        std::vector<uint8_t> tag(8192);
        int t = mp3enc.wave_enmp3_vbrheader(tag.data(), static_cast<int>(tag.size()));
        if (t > 0) {
            long end = std::ftell(stream);
            if (std::fseek(stream, st.firstFrameAt, SEEK_SET) == 0) {
                std::fwrite(tag.data(), 1, static_cast<size_t>(t), stream);
            }
            std::fseek(stream, end, SEEK_SET);
        }
    }
    st.ready = false;
    return n > 0 ? n : 0;
}

void mp3EncoderAbandon(Mp3EncoderState& st) {
    st.ready = false;
}

void mp3WriteToFile(const uint8_t* bytes, int length, void* context) {
    Mp3EncoderState& st = *static_cast<Mp3EncoderState*>(context);
    if (!st.file || st.writeFailed || length <= 0) return;
    if (st.nextAt < 0) st.nextAt = std::ftell(st.file);
    if (st.firstFrameAt < 0) st.firstFrameAt = st.nextAt;
    if (st.run.capacity() < kOutputRunBytes) st.run.reserve(kOutputRunBytes);
    st.run.insert(st.run.end(), bytes, bytes + length);
    st.runMarks.push_back({st.run.size(), st.runPcm});
    if (st.run.size() >= kOutputRunBytes) mp3WriteRun(st);
}

int mp3WriteRun(Mp3EncoderState& st) {
    if (st.writeFailed) return -1;
    if (st.run.empty() || !st.file) {
        st.run.clear();
        st.runMarks.clear();
        st.runPcm = 0;
        return 0;
    }
    if (st.nextAt < 0) st.nextAt = std::ftell(st.file);
    errno = 0;
    const size_t n = std::fwrite(st.run.data(), 1, st.run.size(), st.file);
    const bool whole = n == st.run.size();
    st.run.clear();
    if (!whole) {
        st.writeFailed = true;
        st.writeErrno = errno ? errno : EIO;
        // The frame runs that reached the file whole stay.
        Mp3EncoderState::RunMark kept{0, 0};
        for (const Mp3EncoderState::RunMark& m : st.runMarks) {
            if (m.end > n) break;
            kept = m;
        }
        st.wholeEnd = st.nextAt + static_cast<long>(kept.end);
        st.lostPcm = st.runPcm - kept.pcm;
        st.runMarks.clear();
        st.runPcm = 0;
        return -1;
    }
    st.runMarks.clear();
    st.nextAt += static_cast<long>(n);
    st.wholeEnd = st.nextAt;
    st.runPcm = 0;
    return 0;
}

} // namespace kestrel
