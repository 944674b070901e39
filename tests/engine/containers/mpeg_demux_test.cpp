// The MPEG stream demultiplexer: program, transport and elementary streams
// built by hand for the edge cases, and real files against ffmpeg.
#include "engine/containers/demux.h"
#include "engine/containers/mpeg_audio_frame.h"
#include "engine/core/mpeg_audio_header.h"
#include "engine/core/run_state.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace kestrel;
using kestrel::test::fixture;
using Bytes = std::vector<uint8_t>;

namespace {

struct Recorder : DemuxOutlet {
    Bytes mpeg, ac3;
    std::vector<int> lengths;
    std::vector<DecoderRoute> routes;
    int firstBatches = 0;
    int ac3Frames = 0;
    void mpegFrames(const FrameSlot* slots, int count, DecoderRoute route, bool first) override {
        for (int i = 0; i < count; ++i) {
            mpeg.insert(mpeg.end(), slots[i].data, slots[i].data + slots[i].length);
            lengths.push_back(slots[i].length);
        }
        routes.push_back(route);
        firstBatches += first;
    }
    void ac3Frame(const uint8_t* f, int n) override {
        ac3.insert(ac3.end(), f, f + n);
        ++ac3Frames;
    }
};

void append(Bytes& to, const Bytes& from) {
    to.insert(to.end(), from.begin(), from.end());
}

Bytes body(size_t from, size_t to, uint32_t seed) {
    Bytes b;
    for (size_t i = from; i < to; ++i) {
        seed = seed * 1103515245u + 12345u;
        b.push_back(uint8_t((seed >> 16) & 0x7F)); // never a sync byte
    }
    return b;
}

Bytes mpaFrame(uint32_t header, uint32_t seed = 7) {
    uint8_t h[4] = {uint8_t(header >> 24), uint8_t(header >> 16), uint8_t(header >> 8),
                    uint8_t(header)};
    MpegAudioHeader fh;
    EXPECT_TRUE(parseMpegAudioHeader(h, fh));
    Bytes b(h, h + 4);
    append(b, body(4, size_t(fh.frameBytes), seed));
    return b;
}

Bytes frames(uint32_t header, int count) {
    Bytes b;
    for (int i = 0; i < count; ++i)
        append(b, mpaFrame(header, uint32_t(i + 1)));
    return b;
}

// AC-3 frame at 48 kHz, 96 kbit/s (384 bytes), stereo.
Bytes ac3Frame(uint32_t seed) {
    Bytes b = {0x0B, 0x77, 0x00, 0x00, 0x0C, 0x40, 0x40};
    append(b, body(7, 384, seed));
    for (auto& c : b)
        if (&c - b.data() >= 7 && c == 0x0B) c = 0x0C;
    return b;
}

// MPEG-1 pack header and an MPEG-1 PES with a PTS after `stuffing` 0xFF bytes.
Bytes pack1() {
    return {0, 0, 1, 0xBA, 0x21, 0, 1, 0, 1, 0x80, 0, 1};
}
Bytes pes1(uint8_t id, const Bytes& payload, int stuffing = 0) {
    size_t length = size_t(stuffing) + 5 + payload.size();
    Bytes b = {0, 0, 1, id, uint8_t(length >> 8), uint8_t(length)};
    b.insert(b.end(), size_t(stuffing), 0xFF);
    append(b, {0x21, 0, 1, 0, 1});
    append(b, payload);
    return b;
}
// MPEG-2 PES with a PTS.
Bytes pes2(uint8_t id, const Bytes& payload) {
    size_t length = 8 + payload.size();
    Bytes b = {0, 0, 1, id, uint8_t(length >> 8), uint8_t(length), 0x80, 0x80, 5, 0x21, 0, 1, 0, 1};
    append(b, payload);
    return b;
}

// Transport stream packets carrying `data` on `pid`, the last one padded by
// an adaptation field.
Bytes tsPackets(int pid, const Bytes& data, bool psi) {
    Bytes out;
    size_t pos = 0;
    bool first = true;
    static int cc = 0;
    Bytes payload = data;
    if (psi) payload.insert(payload.begin(), 0); // pointer field
    while (pos < payload.size() || first) {
        size_t n = std::min<size_t>(184, payload.size() - pos);
        Bytes p = {0x47, uint8_t((first ? 0x40 : 0) | (pid >> 8)), uint8_t(pid), 0};
        if (psi || n == 184) {
            p[3] = uint8_t(0x10 | (cc++ & 15));
        } else {
            p[3] = uint8_t(0x30 | (cc++ & 15));
            size_t af = 184 - n - 1; // adaptation field length
            p.push_back(uint8_t(af));
            if (af > 0) {
                p.push_back(0);
                p.insert(p.end(), af - 1, 0xFF);
            }
        }
        p.insert(p.end(), payload.begin() + long(pos), payload.begin() + long(pos + n));
        p.resize(188, 0xFF);
        append(out, p);
        pos += n;
        first = false;
    }
    return out;
}

Bytes pat(int pmtPid) {
    Bytes s = {0x00,           0xB0, 13, 0, 1, 0xC1, 0, 0, 0, 1, uint8_t(0xE0 | (pmtPid >> 8)),
               uint8_t(pmtPid)};
    append(s, {0, 0, 0, 0}); // CRC (not checked)
    return tsPackets(0, s, true);
}

struct Es {
    uint8_t type;
    int pid;
    Bytes descriptors;
};
Bytes pmt(int pmtPid, const std::vector<Es>& streams) {
    Bytes loop;
    for (const Es& e : streams) {
        append(loop, {e.type, uint8_t(0xE0 | (e.pid >> 8)), uint8_t(e.pid), 0xF0,
                      uint8_t(e.descriptors.size())});
        append(loop, e.descriptors);
    }
    size_t length = 9 + loop.size() + 4;
    Bytes s = {
        0x02, uint8_t(0xB0 | (length >> 8)), uint8_t(length), 0, 1, 0xC1, 0, 0, 0xE1, 0x00, 0xF0,
        0};
    append(s, loop);
    append(s, {0, 0, 0, 0});
    return tsPackets(pmtPid, s, true);
}

class MpegDemux : public ::testing::Test {
  protected:
    void SetUp() override {
        running = true;
        setDemuxOutlet(&rec);
    }
    void TearDown() override {
        setDemuxOutlet(nullptr);
        running = false;
    }
    // Feeds `data` in chunks of `chunk` bytes, cutting also at each of `cuts`.
    void feed(int mode, const Bytes& data, size_t chunk = 4096, std::vector<size_t> cuts = {}) {
        demuxReset(mode);
        cuts.push_back(data.size());
        std::sort(cuts.begin(), cuts.end());
        size_t pos = 0;
        for (size_t cut : cuts) {
            while (pos < cut) {
                size_t n = std::min(chunk, cut - pos);
                ASSERT_EQ(demuxChunk(data.data() + pos, int(n)), 0);
                pos += n;
            }
        }
        demuxFinish();
    }
    Recorder rec;
};

} // namespace

TEST_F(MpegDemux, StartCodeSplitAcrossChunksAndThirtyStuffingBytes) {
    Bytes audio = frames(0xFFFD9004, 10); // MPEG-1 Layer II 128 kbit/s 44100 Hz
    Bytes a(audio.begin(), audio.begin() + 2000), b(audio.begin() + 2000, audio.end());
    Bytes ps = pack1();
    append(ps, pes1(0xE0, body(0, 300, 3)));
    append(ps, pes1(0xC0, a));
    append(ps, pack1());
    size_t split = ps.size() + 2; // 00 00 | 01 C0
    append(ps, pes1(0xC0, b, 30));
    append(ps, {0, 0, 1, 0xB9});
    feed(kDemuxPsMpeg, ps, 4096, {split});
    EXPECT_EQ(rec.mpeg, audio);
    EXPECT_EQ(demuxStats().stuffingMessages, 1);
    // The same stream byte by byte.
    rec = Recorder{};
    feed(kDemuxPs, ps, 1);
    EXPECT_EQ(rec.mpeg, audio);
}

TEST_F(MpegDemux, BadPackHeaderAndStrayStartCodesAreLostSync) {
    Bytes audio = frames(0xFFFD9004, 8);
    Bytes ps = pack1();
    append(ps, {0, 0, 1, 0xBA, 0xC4, 0x11}); // neither MPEG-1 nor MPEG-2
    append(ps, {0, 0, 1, 0x05, 0x22});       // not a stream id
    append(ps, pes2(0xC0, audio));
    feed(kDemuxPsMpeg, ps);
    EXPECT_EQ(rec.mpeg, audio);
}

TEST_F(MpegDemux, FramesAreCutAtEveryHeaderDespiteChangingBits) {
    // Bit rate, mode extension and even the sampling rate change from frame to
    // frame; the reference compares only bytes 1, 2 and 4 without mode extension.
    const uint32_t headers[] = {0xFFFB9064, 0xFFFBA064, 0xFFFB9054, 0xFFFB5074,
                                0xFFFB9464, 0xFFFBB044, 0xFFFB9064, 0xFFFB3064};
    Bytes es;
    std::vector<int> lengths;
    for (int round = 0; round < 4; ++round)
        for (uint32_t h : headers) {
            Bytes f = mpaFrame(h, uint32_t(es.size()));
            lengths.push_back(int(f.size()));
            append(es, f);
        }
    feed(kDemuxMpegAudio, es, 1000);
    EXPECT_EQ(rec.lengths, lengths);
    EXPECT_EQ(rec.mpeg, es);
}

// A header followed by more bytes than any frame holds before the next one:
// its frame keeps the length its header states, the bytes beyond are
// garbage and dropped; a span without a header of its own is dropped whole.
TEST_F(MpegDemux, BytesBeyondAFramesOwnLengthAreDropped) {
    Bytes head = frames(0xFFFB9064, 3), tail = frames(0xFFFB9064, 3);
    Bytes pseudo = {0xFF, 0xFB, 0x90, 0x64};
    append(pseudo, body(4, kMaxMpegFrameBytes + 1, 99));
    Bytes es = head;
    append(es, pseudo);
    append(es, tail);
    feed(kDemuxMpegAudio, es);
    Bytes expected = head;
    const int own = mpegFrameLength(pseudo.data(), 0);
    ASSERT_GT(own, 0);
    expected.insert(expected.end(), pseudo.begin(), pseudo.begin() + own);
    append(expected, tail);
    EXPECT_EQ(rec.mpeg, expected);
    EXPECT_EQ(demuxStats().droppedFrames, 0u);
}

// Both assembler entries over the same elementary stream: every frame whole,
// in order.
void expectBothEntriesCut(Recorder& rec, const Bytes& es, const std::vector<int>& lengths,
                          size_t chunk) {
    rec = Recorder{};
    demuxReset(kDemuxMpegAudio);
    for (size_t pos = 0; pos < es.size(); pos += chunk)
        demuxChunk(es.data() + pos, int(std::min(chunk, es.size() - pos)));
    demuxFinish();
    EXPECT_EQ(rec.lengths, lengths) << "main entry";
    EXPECT_EQ(rec.mpeg, es);
    rec = Recorder{};
    demuxReset(kDemuxMpegAudio);
    for (size_t pos = 0; pos < es.size(); pos += chunk)
        feedMpegAudio(es.data() + pos, int(std::min(chunk, es.size() - pos)),
                      DecoderRoute::MpegAudioLibrary, true);
    demuxFinish();
    EXPECT_EQ(rec.lengths, lengths) << "direct entry";
    EXPECT_EQ(rec.mpeg, es);
}

TEST_F(MpegDemux, EveryLegalFrameSequenceComesThroughWhole) {
    struct Case {
        const char* what;
        std::vector<uint32_t> headers; // repeated in turn
    } cases[] = {
        // The protection bit changes from frame to frame.
        {"protection", {0xFFFB9000, 0xFFFA9200, 0xFFFA9040, 0xFFFB9200}},
        // Stereo and joint stereo alternate (Layer II, 32 kHz).
        {"stereo modes", {0xFFFCA800, 0xFFFCA870, 0xFFFCA840, 0xFFFCA860}},
        // Layer I without CRC: every header begins FF FF; padding slots.
        {"layer I", {0xFFFF4000, 0xFFFF4200, 0xFFFF9040, 0xFFFFE270}},
        // Layer II at 384 kbit/s, 32 kHz: 1728 and 1729 bytes.
        {"long frames", {0xFFFDE800, 0xFFFDEA00, 0xFFFDE800}},
        // MPEG-2 Layer III, 16 kHz mono, the bit rate switching from 8 kbit/s
        // (36-byte frames) to 160 kbit/s.
        {"short frames", {0xFFF318C4, 0xFFF328C4, 0xFFF3E8C4, 0xFFF318C4, 0xFFF358C4}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes es;
        std::vector<int> lengths;
        for (int round = 0; round < 6; ++round)
            for (uint32_t h : c.headers) {
                Bytes f = mpaFrame(h, uint32_t(es.size()));
                lengths.push_back(int(f.size()));
                append(es, f);
            }
        expectBothEntriesCut(rec, es, lengths, 1000);
    }
}

TEST_F(MpegDemux, FreeFormatFramesAreMeasuredAndCut) {
    // Free format (bit-rate index 0): 653-byte frames, 654 with padding, as
    // an encoder writes them for 200 kbit/s at 44.1 kHz.
    Bytes es;
    std::vector<int> lengths;
    for (int i = 0; i < 40; ++i) {
        bool pad = i % 3 == 1;
        Bytes f = {0xFF, 0xFB, uint8_t(pad ? 0x02 : 0x00), 0x64};
        append(f, body(4, pad ? 654 : 653, uint32_t(i + 1)));
        lengths.push_back(int(f.size()));
        append(es, f);
    }
    expectBothEntriesCut(rec, es, lengths, 1024);

    // A real one, made by an encoder.
    ASSERT_TRUE(test::haveFixture("mpa_free_200k.mp3"));
    Bytes file = test::readFile(fixture("mpa_free_200k.mp3"));
    rec = Recorder{};
    feed(kDemuxMpegAudio, file, 3760);
    EXPECT_EQ(rec.mpeg, file);
    EXPECT_EQ(rec.lengths.size(), file.size() / 653); // 117 frames of 653 or 654 bytes
}

TEST_F(MpegDemux, DecoderRouteFollowsVersionAndLayer) {
    struct {
        uint32_t header;
        DecoderRoute route;
    } cases[] = {{0xFFFB9064, DecoderRoute::MpegAudioLibrary},  // MPEG-1 Layer III
                 {0xFFFD9004, DecoderRoute::MpegAudioLibrary},  // MPEG-1 Layer II
                 {0xFFF380C4, DecoderRoute::BuiltIn},           // MPEG-2 Layer III
                 {0xFFE340C4, DecoderRoute::BuiltIn},           // MPEG-2.5 Layer III
                 {0xFFF580C4, DecoderRoute::MpegAudioLibrary},  // MPEG-2 Layer II
                 {0xFFF780C4, DecoderRoute::MpegAudioLibrary}}; // MPEG-2 Layer I
    for (auto& c : cases) {
        rec = Recorder{};
        feed(kDemuxMpegAudio, frames(c.header, 40));
        ASSERT_FALSE(rec.routes.empty());
        EXPECT_EQ(rec.routes.front(), c.route) << std::hex << c.header;
        EXPECT_EQ(rec.firstBatches, 1);
        EXPECT_EQ(rec.lengths.size(), 40u);
    }
    // The second entry keeps its caller's route.
    rec = Recorder{};
    demuxReset(kDemuxMpegAudio);
    Bytes es = frames(0xFFFB9064, 10);
    feedMpegAudio(es.data(), int(es.size()), DecoderRoute::BuiltIn, false);
    demuxFinish();
    EXPECT_EQ(rec.mpeg, es);
    EXPECT_EQ(rec.routes.front(), DecoderRoute::BuiltIn);
}

TEST_F(MpegDemux, TransportStreamWithoutVideoAndMpeg2Audio) {
    Bytes audio = frames(0xFFF580C4, 30); // MPEG-2 Layer II: stream type 4
    Bytes ts = pat(0x100);
    append(ts, pmt(0x100, {{4, 0x101, {}}}));
    for (size_t i = 0; i < audio.size(); i += 1500) {
        Bytes part(audio.begin() + long(i), audio.begin() + long(std::min(audio.size(), i + 1500)));
        append(ts, tsPackets(0x101, pes2(0xC0, part), false));
    }
    feed(3, ts, 3760);
    EXPECT_EQ(mainDemuxer().mode(), kDemuxTsRunning);
    EXPECT_EQ(demuxStats().audioPid, 0x101);
    EXPECT_EQ(demuxStats().videoPid, -1);
    EXPECT_EQ(rec.mpeg, audio);
}

TEST_F(MpegDemux, TransportStreamAc3ByDescriptor) {
    Bytes ac3;
    for (uint32_t i = 0; i < 12; ++i)
        append(ac3, ac3Frame(i + 1));
    Bytes ts = pat(0x100);
    append(ts, pmt(0x100, {{2, 0x1E0, {}}, {6, 0x1C0, {0x6A, 1, 0}}}));
    append(ts, tsPackets(0x1E0, pes2(0xE0, body(0, 500, 5)), false));
    for (size_t i = 0; i < ac3.size(); i += 1536)
        append(ts, tsPackets(0x1C0,
                             pes2(0xBD, Bytes(ac3.begin() + long(i),
                                              ac3.begin() + long(std::min(ac3.size(), i + 1536)))),
                             false));
    feed(kDemuxTsNoPat, ts, 3760);
    EXPECT_TRUE(demuxStats().audioIsAc3);
    EXPECT_EQ(demuxStats().videoPid, 0x1E0);
    EXPECT_EQ(rec.ac3, ac3);
    EXPECT_EQ(rec.ac3Frames, 12);
}

TEST_F(MpegDemux, RefusesBadChunksAndModes) {
    uint8_t chunk[4097] = {};
    demuxReset(kDemuxMpegAudio);
    EXPECT_EQ(demuxChunk(chunk, 4097), -1);
    demuxReset(99);
    EXPECT_EQ(demuxChunk(chunk, 100), -1);
    demuxReset(3);
    EXPECT_EQ(demuxChunk(chunk, 376), -2);
    EXPECT_EQ(rec.mpeg.size(), 0u);
}

// Real files: the AC-3 frames of a DVD VOB, a transport stream and an AC-3
// file are those ffmpeg extracts; a program stream gives the same frames in
// any chunking.
TEST_F(MpegDemux, RealFilesAgainstFfmpeg) {
    struct {
        const char* file;
        int mode;
    } cases[] = {{"mpeg_dvd.vob", kDemuxPsAc3}, {"mpeg_ts_ac3.ts", 3}, {"mpeg_ac3.ac3", kDemuxAc3}};
    test::TempDir dir;
    for (auto& c : cases) {
        SCOPED_TRACE(c.file);
        rec = Recorder{};
        Bytes src = test::readFile(fixture(c.file));
        ASSERT_FALSE(src.empty());
        feed(c.mode, src, 3760);
        ASSERT_EQ(test::run("ffmpeg -nostdin -loglevel error -y -i '" + fixture(c.file) +
                            "' -vn -c:a copy -f ac3 '" + dir.file("ref.ac3") + "'"),
                  0);
        Bytes ref = test::readFile(dir.file("ref.ac3"));
        EXPECT_GT(rec.ac3Frames, 50);
        EXPECT_EQ(rec.ac3.size(), ref.size());
        EXPECT_TRUE(rec.ac3 == ref);
    }
    Bytes ps = test::readFile(fixture("mpeg_mpeg2.mpg"));
    rec = Recorder{};
    feed(kDemuxPsMpeg, ps, 4096);
    Bytes whole = rec.mpeg;
    EXPECT_GT(whole.size(), 50000u);
    rec = Recorder{};
    feed(kDemuxPsMpeg, ps, 7);
    EXPECT_TRUE(rec.mpeg == whole);
}

TEST_F(MpegDemux, LastFramesBeforeTrailingJunkAreKept) {
    Bytes ac3;
    for (uint32_t i = 0; i < 5; ++i)
        append(ac3, ac3Frame(i + 1));
    Bytes es = ac3;
    append(es, body(0, 100, 42));
    feed(kDemuxAc3, es, 333);
    EXPECT_EQ(rec.ac3, ac3);

    Bytes mpa = frames(0xFFFB9064, 5);
    es = mpa;
    append(es, {'T', 'A', 'G'});
    append(es, body(3, 128, 43));
    rec = Recorder{};
    feed(kDemuxMpegAudio, es, 333);
    EXPECT_EQ(rec.mpeg, mpa);
}
