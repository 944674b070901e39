#include "engine/containers/demux.h"

#include "engine/containers/mpeg_audio_frame.h"
#include "engine/containers/texts.h"
#include "engine/core/run_state.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace kestrel {

static_assert(kFrameSlotBytes >= kMaxMpegFrameBytes);

namespace {

// ---------------------------------------------------------------- helpers

inline uint16_t be16(const uint8_t* p) {
    return uint16_t((p[0] << 8) | p[1]);
}

bool debugOutput() {
#ifndef NDEBUG
    return true;
#else
    static const bool on = std::getenv("KESTREL_DEBUG") != nullptr;
    return on;
#endif
}

// Bytes of an AC-3 frame from its frmsizecod byte (offset 4), 0 when invalid.
int ac3FrameBytes(uint8_t b4) {
    static const uint16_t words[3][19] = {
        {64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512, 640, 768, 896, 1024, 1152,
         1280},
        {69, 87, 104, 121, 139, 174, 208, 243, 278, 348, 417, 487, 557, 696, 835, 975, 1114, 1253,
         1393},
        {96, 120, 144, 168, 192, 240, 288, 336, 384, 480, 576, 672, 768, 960, 1152, 1344, 1536,
         1728, 1920},
    };
    int fscod = b4 >> 6, code = b4 & 0x3F;
    if (fscod == 3 || code >= 38) return 0;
    int w = words[fscod][code >> 1];
    if (fscod == 1 && (code & 1)) ++w; // 44.1 kHz odd codes carry one more word
    return w * 2;
}

// Length of the PES header (start code to payload) in h[0..have), 0 when more
// bytes are needed. Both MPEG-2 and MPEG-1 forms.
int pesHeaderLength(const uint8_t* h, int have, bool& stuffingNoted, int& stuffingMessages) {
    if (have < 7) return 0;
    if ((h[6] & 0xC0) == 0x80) {
        if (have < 9) return 0;
        return 9 + h[8];
    }
    int k = 6;
    for (;;) {
        if (k >= have) return 0;
        if (h[k] != 0xFF) break;
        if (k >= 23 && !stuffingNoted) {
            stuffingNoted = true;
            ++stuffingMessages;
            if (debugOutput()) std::fputs(text::kTooMuchStuffing, stderr);
        }
        ++k;
    }
    if ((h[k] & 0xC0) == 0x40) {
        k += 2;
        if (k >= have) return 0;
    }
    if ((h[k] & 0xF0) == 0x20) return k + 5;
    if ((h[k] & 0xF0) == 0x30) return k + 10;
    return k + 1;
}

// ---------------------------------------------------------------- MPEG audio frame assembler

struct AssemblerConfig {
    int minFrame;   // shorter frames are dropped
    int resetAbove; // carry-over limit
    bool direct;    // second entry (caller's route and step)
};

struct Assembler {
    static constexpr int kCap = 16384;
    uint8_t buf[kCap];
    int size = 0;
    int syncState = 0; // 0 searching, 1 synchronised
    bool haveRef = false;
    uint8_t ref[4] = {};
    int firstLen = 0;
    int freeBytes = 0; // free format: frame length without padding, once measured
    bool routeSet = false;
    DecoderRoute route = DecoderRoute::MpegAudioLibrary;
    bool routeFromStream = false; // a later stream of other frames chose the route
    bool firstBatch = true;
    FrameSlot batch[kFrameBatch];
    int count = 0;
    bool shortStep = false;
    int resume = 0; // where the search for the end of the frame at 0 goes on

    void reset() {
        resume = 0;
        size = 0;
        syncState = 0;
        haveRef = false;
        firstLen = 0;
        freeBytes = 0;
        routeSet = false;
        route = DecoderRoute::MpegAudioLibrary;
        routeFromStream = false;
        firstBatch = true;
        count = 0;
    }
};

const AssemblerConfig kMainConfig{1, 10000, false};
const AssemblerConfig kDirectConfig{kMinMpegFrameBytes, 8000, true};

bool matchesRef(const Assembler& a, const uint8_t* p) {
    return sameMpegAudioStream(a.ref, p);
}

// A header that can start the stream: parseable, matching the reference once
// one exists, and followed by two headers of the same stream, each where the
// frame before it ends (free format included: its frame length is measured).
// Returns 1 (yes), 0 (no), -1 (need more bytes).
int confirmSync(Assembler& a, const uint8_t* p, int avail) {
    if (a.haveRef && !matchesRef(a, p)) return 0;
    int freeBytes = 0;
    int c = confirmMpegAudioStart(p, size_t(avail), freeBytes);
    if (c == 1) a.freeBytes = freeBytes;
    return c;
}

// Whether the header at `p` is of the reference's format: its version,
// layer, sampling rate and channel mode (mono or not), a valid bit rate of
// the same kind (free format or not). Status bits (protection, copyright,
// original, emphasis) may differ from frame to frame.
bool sameFormat(const Assembler& a, const uint8_t* p) {
    if (!isMpegAudioSync(p) || (p[1] & 0xFE) != (a.ref[1] & 0xFE)) return false;
    const int brIndex = p[2] >> 4;
    if (brIndex == 15 || ((p[2] >> 2) & 3) == 3 || ((p[2] ^ a.ref[2]) & 0x0C) != 0) return false;
    if ((brIndex == 0) != ((a.ref[2] >> 4) == 0)) return false;
    return ((p[3] >> 6) == kMono) == ((a.ref[3] >> 6) == kMono);
}

// Whether another stream begins at `p` (files joined end to end: another
// channel mode, rate or layer): a header not of the reference's format that
// starts a confirmed stream. 1 yes, 0 no, -1 more bytes needed.
int otherStreamAt(const Assembler& a, const uint8_t* p, int avail, int& freeBytes) {
    freeBytes = 0;
    if (avail < 4) return -1;
    if (p[0] != 0xFF || sameFormat(a, p)) return 0;
    return confirmMpegAudioStart(p, size_t(avail), freeBytes);
}

// At the end of the data: whether the frames that begin at `p` chain on to
// its end (or to a trailing tag), so that a stream too short for three
// headers is still taken (a tiny file of one or two frames).
bool framesReachEnd(const uint8_t* p, int avail) {
    int pos = 0, frames = 0;
    while (pos + 4 <= avail) {
        if (frames > 0 && !sameMpegAudioStream(p, p + pos)) {
            const uint8_t* rest = p + pos;
            return std::memcmp(rest, "TAG", 3) == 0 || std::memcmp(rest, "APET", 4) == 0 ||
                   std::memcmp(rest, "LYRI", 4) == 0;
        }
        const int length = mpegFrameLength(p + pos, 0);
        if (length <= 0) return false;
        pos += length;
        ++frames;
    }
    return frames > 0;
}

// Search step after a frame when the next header is not where the frame's own
// length puts it.
int searchStep(const Assembler& a, const AssemblerConfig& cfg, int computed) {
    int step;
    if (cfg.direct) {
        step = (a.shortStep || a.firstLen < cfg.minFrame || a.firstLen > kMaxMpegFrameBytes)
                   ? 10
                   : a.firstLen - 20;
    } else {
        step = (a.firstLen > 1499 || a.firstLen < 101) ? 200 : a.firstLen - 3;
    }
    if (computed > 0) step = std::min(step, computed - 3);
    return std::max(step, 4);
}

// ---------------------------------------------------------------- AC-3 frame splitting

struct Ac3Splitter {
    static constexpr int kCap = 16384;
    uint8_t buf[kCap];
    int size = 0;
    bool synced = false;
    uint8_t ref[3] = {};
    int firstLen = 0;
    int resume = 0; // where the search for the end of the frame at 0 goes on

    void reset() {
        size = 0;
        synced = false;
        firstLen = 0;
        resume = 0;
    }
};
// Private stream 1 packets of a program stream, collected whole.
struct Ac3Pes {
    std::vector<uint8_t> buf;
    size_t need = 0;
    bool active = false;
};
// ---------------------------------------------------------------- program stream

enum PsState { kSeek = 0, kSkipVideo = 1, kSkipOther = 2, kAudio = 3, kPrivate = 4, kHeader = 5 };

struct ProgramStream {
    int state = kSkipOther;
    int64_t owed = 0;
    uint32_t window = 0xFFFFFFFF;
    uint8_t hdr[320];
    int hdrLen = 0;
    bool stuffingNoted = false;
};
// ---------------------------------------------------------------- transport stream

struct TransportStream {
    int32_t pmtPid = -1;
    int32_t pmtPids[64];
    uint16_t programs[64]; // program number of each entry of pmtPids
    int pmtCount = 0;
    int pmtNext = 0;
    int32_t videoPid = -1;
    int32_t audioPid = -1;
    bool audioAc3 = false;
    uint8_t carry[188];
    int carryLen = 0;
    bool badSync = false;
    int packetSize = 0;  // 188, 192 or 204 once found (tsPacketSize); 0 before
    int skip = 0;        // bytes still to pass over before the next packet
    bool realign = true; // at the start and after a seek: find the packet edge
    // Audio PES being passed on.
    bool pesActive = false;
    int64_t pesRemaining = 0; // -1: unbounded
    bool stuffingNoted = false;
};

// Payload of a packet: offset and whether there is one.
bool tsPayload(const uint8_t* pkt, int& off) {
    int afc = (pkt[3] >> 4) & 3;
    off = 4;
    if (afc & 2) off += 1 + pkt[4];
    return (afc & 1) && off < 188;
}

// Start of a PSI section in a unit-start packet, or nullptr.
const uint8_t* tsSection(const uint8_t* pkt, int& avail) {
    int off;
    if (!(pkt[1] & 0x40) || !tsPayload(pkt, off)) return nullptr;
    off += 1 + pkt[off]; // pointer field
    if (off + 3 > 188) return nullptr;
    avail = 188 - off;
    return pkt + off;
}

bool hasAc3Descriptor(const uint8_t* d, int len) {
    for (int i = 0; i + 2 <= len;) {
        int tag = d[i], l = d[i + 1];
        if (i + 2 + l > len) break;
        if (tag == 0x6A || tag == 0x7A) return true;
        if (tag == 0x05 && l >= 4 && std::memcmp(d + i + 2, "AC-3", 4) == 0) return true;
        i += 2 + l;
    }
    return false;
}

} // namespace

struct Demuxer::Impl {
    DemuxOutlet* outlet = nullptr;
    DemuxStats stats;
    int32_t mode = kDemuxMpegAudio;
    bool fastCopy = false;
    FILE* fastCopyStream = nullptr;
    bool fastCopyFailed = false;
    const std::atomic<bool>* run = &running;
    Assembler mainAsm;
    Assembler directAsm;
    Ac3Splitter ac3;
    Ac3Pes ac3Pes;
    ProgramStream ps;
    TransportStream ts;

    void flushBatch(Assembler& a) {
        if (a.count == 0) return;
        if (fastCopy && fastCopyStream) {
            for (int i = 0; i < a.count; ++i) {
                size_t n = size_t(a.batch[i].length);
                if (std::fwrite(a.batch[i].data, 1, n, fastCopyStream) != n) fastCopyFailed = true;
            }
        } else if (outlet) {
            outlet->mpegFrames(a.batch, a.count, a.route, a.firstBatch);
        }
        a.firstBatch = false;
        a.count = 0;
    }

    void emitFrame(Assembler& a, const uint8_t* p, int len, const AssemblerConfig& cfg) {
        if (len > kMaxMpegFrameBytes || len < cfg.minFrame) {
            ++stats.droppedFrames;
            return;
        }
        if (!a.routeSet) {
            a.routeSet = true;
            if (!cfg.direct) a.route = routeForHeader(p);
        }
        FrameSlot& s = a.batch[a.count++];
        std::memcpy(s.data, p, size_t(len));
        s.length = len;
        ++stats.mpegFrames;
        if (a.count == kFrameBatch) flushBatch(a);
    }

    // Another stream begins at `p`: the frames before it are handed on in a
    // batch of their own, and the decoder starts again on the new one.
    void adoptStream(Assembler& a, const uint8_t* p, int freeBytes) {
        flushBatch(a);
        std::memcpy(a.ref, p, 4);
        a.freeBytes = freeBytes;
        a.firstLen = 0;
        a.firstBatch = true;
        a.route = routeForHeader(p);
        a.routeSet = true;
        a.routeFromStream = true;
        ++stats.streamChanges;
    }

    void assemble(Assembler& a, const uint8_t* data, int n, const AssemblerConfig& cfg,
                  bool flush) {
        if (n > 0) {
            if (a.size + n > Assembler::kCap) {
                a.size = 0;
                a.syncState = 0;
                a.resume = 0;
            }
            std::memcpy(a.buf + a.size, data, size_t(n));
            a.size += n;
        }
        if (a.size > cfg.resetAbove) {
            // Nothing usable in a whole carry-over: start again from scratch,
            // reference included, so that a wrong reference cannot stick.
            a.size = 0;
            a.syncState = 0;
            a.haveRef = false;
            a.resume = 0;
            return;
        }
        if (!flush && ((a.syncState == 0 && a.size < 1200) || (a.syncState != 0 && a.size < 400)))
            return;

        int pos = 0;
        if (a.syncState == 0) {
            int found = -1, wait = -1;
            for (int i = 0; i + 4 <= a.size; ++i) {
                if (a.buf[i] != 0xFF) continue;
                int c = confirmSync(a, a.buf + i, a.size - i);
                if (c == 1) {
                    found = i;
                    break;
                }
                if (c < 0 && wait < 0) wait = i;
            }
            if (found < 0 && flush && wait >= 0 && framesReachEnd(a.buf + wait, a.size - wait))
                found = wait;
            if (found < 0) {
                int keep = wait >= 0 ? wait : std::max(0, a.size - 3);
                std::memmove(a.buf, a.buf + keep, size_t(a.size - keep));
                a.size -= keep;
                return;
            }
            pos = found;
            a.syncState = 1;
            if (!a.haveRef) {
                std::memcpy(a.ref, a.buf + found, 4);
                a.haveRef = true;
            }
        }

        while (pos + 4 <= a.size) {
            if (!run->load(std::memory_order_relaxed)) {
                a.count = 0; // stopping: the batch is emptied
                a.size = 0;
                a.resume = 0;
                return;
            }
            if (!sameFormat(a, a.buf + pos)) {
                int freeBytes = 0;
                int c = otherStreamAt(a, a.buf + pos, a.size - pos, freeBytes);
                if (c == 1) {
                    adoptStream(a, a.buf + pos, freeBytes);
                } else if (c < 0 && !flush) {
                    break; // wait for the headers that confirm it
                } else if (!matchesRef(a, a.buf + pos)) {
                    break; // only after the last frame of a stream
                }
            }
            MpegAudioHeader h;
            bool parsed = parseMpegAudioHeader(a.buf + pos, h);
            int computed = parsed ? mpegFrameLength(a.buf + pos, a.freeBytes) : 0;
            int end = -1;
            if (computed > 0) {
                if (pos + computed + 4 <= a.size) {
                    const uint8_t* next = a.buf + pos + computed;
                    int freeBytes = 0;
                    int c = sameFormat(a, next)
                                ? 1
                                : otherStreamAt(a, next, a.size - pos - computed, freeBytes);
                    if (c == 1)
                        end = pos + computed;
                    else if (c < 0 && !flush)
                        break; // wait: another stream may begin there
                } else if (!flush) {
                    break; // wait for the rest of the frame and the next header
                }
            }
            if (end < 0) {
                int j = pos + searchStep(a, cfg, computed);
                if (pos == 0) j = std::max(j, a.resume);
                for (; j + 4 <= a.size; ++j) {
                    if (a.buf[j] == a.ref[0] && matchesRef(a, a.buf + j)) {
                        end = j;
                        break;
                    }
                }
                if (end < 0 && pos == 0) a.resume = std::max(0, a.size - 3);
            }
            if (end < 0 && flush) {
                // The last frame of the stream: no header follows it.
                if (computed > 0 && pos + computed <= a.size)
                    end = pos + computed;
                else if (parsed && computed == 0 && a.size - pos >= cfg.minFrame)
                    end = a.size; // free format
            }
            if (end < 0) break;
            a.resume = 0;
            // Bytes between the frame's own end and the next header (garbage
            // in the stream) are no part of it: the frame decodes whole.
            emitFrame(a, a.buf + pos, computed > 0 ? std::min(computed, end - pos) : end - pos,
                      cfg);
            if (a.firstLen == 0) a.firstLen = end - pos;
            pos = end;
        }
        if (flush) pos = a.size; // whatever is left is not a whole frame
        if (pos > 0) {
            std::memmove(a.buf, a.buf + pos, size_t(a.size - pos));
            a.size -= pos;
            a.resume = 0;
        }
        flushBatch(a);
    }

    // The low bit of frmsizecod (byte 4) is not compared: at 44.1 kHz it is the
    // padding flag and changes from frame to frame of one stream.
    bool ac3MatchesRef(const uint8_t* p) {
        return p[0] == 0x0B && p[1] == 0x77 && ((p[4] ^ ac3.ref[0]) & 0xFE) == 0 &&
               p[5] == ac3.ref[1] && p[6] == ac3.ref[2];
    }

    void emitAc3(const uint8_t* p, int len) {
        if (len >= 2000 || len < 7) return;
        ++stats.ac3Frames;
        if (outlet && !fastCopy) outlet->ac3Frame(p, len);
    }

    void ac3Feed(const uint8_t* data, int n, bool flush) {
        Ac3Splitter& s = ac3;
        while (n > 0 || flush) {
            int take = std::min(n, Ac3Splitter::kCap - s.size);
            if (take > 0) std::memcpy(s.buf + s.size, data, size_t(take));
            s.size += take;
            data += take;
            n -= take;
            int pos = 0;
            for (;;) {
                if (!s.synced) {
                    int i = 0;
                    while (i + 7 <= s.size && !(s.buf[i] == 0x0B && s.buf[i + 1] == 0x77))
                        ++i;
                    if (i + 7 > s.size) {
                        pos = std::max(0, s.size - 6);
                        break;
                    }
                    std::memcpy(s.ref, s.buf + i + 4, 3);
                    s.synced = true;
                    pos = i;
                }
                if (pos + 7 > s.size || !ac3MatchesRef(s.buf + pos)) break;
                int computed = ac3FrameBytes(s.buf[pos + 4]);
                int end = -1;
                if (computed > 0 && pos + computed + 7 <= s.size) {
                    if (ac3MatchesRef(s.buf + pos + computed)) end = pos + computed;
                } else if (computed > 0 && !flush) {
                    break; // wait for the rest of the frame and the next sync
                }
                if (end < 0) {
                    int from = pos + std::max(2, std::min(computed > 0 ? computed - 5 : 300,
                                                          s.firstLen > 0 ? s.firstLen - 5 : 300));
                    if (pos == 0) from = std::max(from, s.resume);
                    for (int j = from; j + 7 <= s.size; ++j) {
                        if (s.buf[j] == 0x0B && ac3MatchesRef(s.buf + j)) {
                            end = j;
                            break;
                        }
                    }
                    if (end < 0 && pos == 0) s.resume = std::max(0, s.size - 6);
                }
                if (end < 0 && flush && computed > 0 && pos + computed <= s.size)
                    end = pos + computed; // the last frame: no sync follows it
                if (end < 0) break;
                s.resume = 0;
                emitAc3(s.buf + pos, end - pos);
                if (s.firstLen == 0) s.firstLen = end - pos;
                pos = end;
            }
            if (flush) {
                s.size = 0;
                s.synced = false;
                s.resume = 0;
                return;
            }
            if (pos == 0 && s.size == Ac3Splitter::kCap) {
                s.reset(); // a full buffer without a frame: start again
            } else if (pos > 0) {
                std::memmove(s.buf, s.buf + pos, size_t(s.size - pos));
                s.size -= pos;
                s.resume = 0;
            }
        }
    }

    void ac3PesComplete() {
        const std::vector<uint8_t>& b = ac3Pes.buf;
        ac3Pes.active = false;
        if (b.size() < 9) return;
        size_t sub = 9 + size_t(b[8]);
        if (sub + 4 > b.size() || b[sub] != 0x80) return;
        ac3Feed(b.data() + sub + 4, int(b.size() - sub - 4), false);
    }

    void ac3PesStart(const uint8_t* hdr, int length) {
        ac3Pes.buf.assign(hdr, hdr + 6);
        ac3Pes.need = size_t(length) + 6;
        ac3Pes.active = length > 0;
    }

    void ac3PesAppend(const uint8_t* p, int n) {
        if (!ac3Pes.active) return;
        ac3Pes.buf.insert(ac3Pes.buf.end(), p, p + n);
        if (ac3Pes.buf.size() >= ac3Pes.need) ac3PesComplete();
    }

    // Treats the header collected so far as lost synchronisation: the search
    // continues after its start code.
    void psLostSync() {
        uint8_t rest[320];
        int n = ps.hdrLen - 4;
        std::memcpy(rest, ps.hdr + 4, size_t(std::max(0, n)));
        ps.state = kSeek;
        ps.window = 0xFFFFFFFF;
        ps.hdrLen = 0;
        if (n > 0) psFeed(rest, n);
    }

    void psEnter(int state, int64_t owed) {
        ps.state = owed > 0 ? state : kSeek;
        ps.owed = owed;
        ps.window = 0xFFFFFFFF;
        ps.hdrLen = 0;
    }

    // Called after each byte added to the header; acts once it is complete.
    void psHeaderStep() {
        const uint8_t* h = ps.hdr;
        int have = ps.hdrLen;
        uint8_t id = h[3];
        if (id == 0xBA) {
            if (have < 5) return;
            int need;
            if ((h[4] & 0xC0) == 0x40) {
                if (have < 14) return;
                need = 14 + (h[13] & 7);
            } else if ((h[4] & 0xF0) == 0x20) {
                need = 12;
            } else {
                psLostSync(); // neither MPEG-1 nor MPEG-2: search on
                return;
            }
            if (have >= need) psEnter(kSeek, 0);
            return;
        }
        if (have < 6) return;
        int length = be16(h + 4);
        if (id == 0xBD) {
            ac3PesStart(h, length);
            psEnter(kPrivate, length);
            return;
        }
        if (id >= 0xE0 && id <= 0xEF) {
            psEnter(kSkipVideo, length);
            return;
        }
        if (id < 0xC0 || id > 0xDF) {
            psEnter(kSkipOther, length);
            return;
        }
        int total = length + 6;
        int hl = pesHeaderLength(h, have, ps.stuffingNoted, stats.stuffingMessages);
        if (hl > total) {
            ps.stuffingNoted = false;
            psEnter(kSkipOther, total - have); // the header overruns its packet
            return;
        }
        if (hl == 0 || hl > have) {
            if (have >= total || have >= int(sizeof ps.hdr)) {
                ps.stuffingNoted = false;
                psLostSync();
            }
            return; // more header bytes to come
        }
        ps.stuffingNoted = false;
        // Bytes already collected beyond the header belong to the payload.
        int extra = have - hl;
        int64_t payload = total - hl;
        if (extra > 0) {
            uint8_t tmp[320];
            std::memcpy(tmp, h + hl, size_t(extra));
            assemble(mainAsm, tmp, extra, kMainConfig, false);
            payload -= extra;
        }
        psEnter(kAudio, payload);
    }

    void psFeed(const uint8_t* p, int n) {
        int i = 0;
        while (i < n) {
            switch (ps.state) {
            case kSkipVideo:
            case kSkipOther:
            case kAudio:
            case kPrivate: {
                int take = int(std::min<int64_t>(ps.owed, n - i));
                if (ps.state == kAudio)
                    assemble(mainAsm, p + i, take, kMainConfig, false);
                else if (ps.state == kPrivate)
                    ac3PesAppend(p + i, take);
                i += take;
                ps.owed -= take;
                if (ps.owed <= 0) psEnter(kSeek, 0);
                break;
            }
            case kSeek: {
                uint32_t w = ps.window;
                while (i < n) {
                    w = (w << 8) | p[i++];
                    if ((w & 0xFFFFFF00u) == 0x00000100u && (w & 0xFF) >= 0xB9) {
                        ps.hdr[0] = 0;
                        ps.hdr[1] = 0;
                        ps.hdr[2] = 1;
                        ps.hdr[3] = uint8_t(w & 0xFF);
                        ps.hdrLen = 4;
                        ps.state = kHeader;
                        break;
                    }
                }
                ps.window = w;
                if (ps.state == kHeader && ps.hdr[3] == 0xB9) psEnter(kSeek, 0); // end code
                break;
            }
            case kHeader:
                ps.hdr[ps.hdrLen++] = p[i++];
                psHeaderStep();
                break;
            }
        }
    }

    void tsPat(const uint8_t* pkt) {
        int avail;
        const uint8_t* s = tsSection(pkt, avail);
        if (!s || s[0] != 0x00) return;
        // The table repeats all through the stream: only the first one counts,
        // so that the walk through the program maps is not started over.
        if (ts.pmtCount > 0) return;
        int sectionLength = ((s[1] & 0x0F) << 8) | s[2];
        int end = std::min(avail, 3 + sectionLength - 4); // before the CRC
        for (int e = 8; e + 4 <= end; e += 4) {
            int program = be16(s + e);
            int pid = ((s[e + 2] & 0x1F) << 8) | s[e + 3];
            if (program != 0 && ts.pmtCount < 64) {
                ts.programs[ts.pmtCount] = uint16_t(program);
                ts.pmtPids[ts.pmtCount++] = pid;
            }
        }
        if (ts.pmtCount > 0) {
            ts.pmtPid = ts.pmtPids[0];
            ts.pmtNext = 1;
            mode = kDemuxTsNoPmt;
        }
    }

    void tsPmt(const uint8_t* pkt) {
        int avail;
        const uint8_t* s = tsSection(pkt, avail);
        if (!s || s[0] != 0x02 || avail < 12) return;
        // Maps of several programs may share a PID: take the one being tried.
        if (ts.pmtNext > 0 && be16(s + 3) != ts.programs[ts.pmtNext - 1]) return;
        int sectionLength = ((s[1] & 0x0F) << 8) | s[2];
        int end = std::min(avail, 3 + sectionLength - 4);
        int programInfo = ((s[10] & 0x0F) << 8) | s[11];
        int video = -1, audio = -1;
        bool ac3 = false;
        for (int e = 12 + programInfo; e + 5 <= end;) {
            int type = s[e];
            int pid = ((s[e + 1] & 0x1F) << 8) | s[e + 2];
            int infoLength = ((s[e + 3] & 0x0F) << 8) | s[e + 4];
            int infoEnd = std::min(end, e + 5 + infoLength);
            if ((type == 1 || type == 2) && video < 0) video = pid;
            if (audio < 0) {
                if (type == 3 || type == 4) {
                    audio = pid;
                } else if (type == 0x81 ||
                           (type == 0x06 && hasAc3Descriptor(s + e + 5, infoEnd - e - 5))) {
                    audio = pid;
                    ac3 = true;
                }
            }
            e += 5 + infoLength;
        }
        ts.videoPid = video;
        // The sound of the first program that has any: a program without audio
        // sends the search on to the next map.
        if (audio < 0 && ts.pmtNext < ts.pmtCount) {
            ts.pmtPid = ts.pmtPids[ts.pmtNext++];
            return;
        }
        ts.audioPid = audio;
        ts.audioAc3 = ac3;
        stats.videoPid = video;
        stats.audioPid = audio;
        stats.audioIsAc3 = ac3;
        mode = kDemuxTsRunning;
    }

    void tsAudioPayload(const uint8_t* p, int n) {
        if (ts.audioAc3)
            ac3Feed(p, n, false);
        else
            assemble(mainAsm, p, n, kMainConfig, false);
    }

    void tsAudio(const uint8_t* pkt) {
        int off;
        if (!tsPayload(pkt, off)) return;
        const uint8_t* p = pkt + off;
        int n = 188 - off;
        if (pkt[1] & 0x40) {
            ts.pesActive = false;
            if (n < 9 || p[0] != 0 || p[1] != 0 || p[2] != 1) return;
            int length = be16(p + 4);
            int hl = pesHeaderLength(p, n, ts.stuffingNoted, stats.stuffingMessages);
            ts.stuffingNoted = false;
            if (hl == 0 || hl > n || (length != 0 && hl > length + 6)) return;
            ts.pesActive = true;
            ts.pesRemaining = length != 0 ? length + 6 - hl : -1;
            p += hl;
            n -= hl;
        } else if (!ts.pesActive) {
            return;
        }
        if (ts.pesRemaining >= 0) {
            n = int(std::min<int64_t>(n, ts.pesRemaining));
            ts.pesRemaining -= n;
        }
        if (n > 0) tsAudioPayload(p, n);
    }

    void tsPacket(const uint8_t* pkt) {
        int pid = ((pkt[1] & 0x1F) << 8) | pkt[2];
        if (mode == kDemuxTsNoPat || mode == kDemuxTsNoPmt) {
            if (pid == 0)
                tsPat(pkt);
            else if (pid == ts.pmtPid)
                tsPmt(pkt);
            return;
        }
        // Video is never decoded: only the audio PID matters once the map is read.
        if (pid == ts.audioPid && ts.audioPid >= 0) tsAudio(pkt);
    }

    // Packets of 192 bytes (a time code before the 188) or 204 bytes (16
    // check bytes after them): the bytes between two packets are passed over.
    int tsStride() const { return ts.packetSize ? ts.packetSize : 188; }

    void tsFeed(const uint8_t* p, int n) {
        int i = 0;
        if (ts.carryLen > 0) {
            int take = std::min(188 - ts.carryLen, n);
            std::memcpy(ts.carry + ts.carryLen, p, size_t(take));
            ts.carryLen += take;
            i = take;
            if (ts.carryLen < 188) return;
            ts.carryLen = 0;
            tsPacket(ts.carry);
            ts.skip = tsStride() - 188;
        }
        while (i < n) {
            if (ts.skip > 0) {
                int k = std::min(ts.skip, n - i);
                i += k;
                ts.skip -= k;
                continue;
            }
            if (p[i] == 0x47 && (ts.packetSize == 0 || ts.realign)) {
                ts.realign = false;
                if (ts.packetSize == 0) ts.packetSize = kestrel::tsPacketSize(p + i, size_t(n - i));
                // The time code before a 192-byte packet may begin with 0x47
                // itself: the packet is where the spacing holds 4 bytes on.
                if (ts.packetSize == 192 && n - i > 4 &&
                    kestrel::tsPacketSize(p + i + 4, size_t(n - i - 4)) == 192) {
                    i += 4;
                    continue;
                }
            }
            const int stride = tsStride();
            // A packet starts with 0x47; after lost sync also the next one must.
            if (p[i] != 0x47 || (ts.badSync && i + stride < n && p[i + stride] != 0x47)) {
                ts.badSync = true;
                ++i;
                continue;
            }
            if (n - i < 188) {
                std::memcpy(ts.carry, p + i, size_t(n - i));
                ts.carryLen = n - i;
                break;
            }
            tsPacket(p + i);
            i += 188;
            ts.skip = stride - 188;
        }
    }
};

int tsPacketSize(const uint8_t* b, size_t n) {
    if (n == 0 || b[0] != 0x47) return 0;
    for (int size : {188, 192, 204}) {
        int seen = 0;
        bool all = true;
        for (size_t at = size_t(size); at < n && seen < 4; at += size_t(size), ++seen)
            if (b[at] != 0x47) all = false;
        if (all && seen >= 2) return size;
    }
    return 0;
}

DecoderRoute routeForHeader(const uint8_t* header) {
    MpegAudioHeader h;
    if (parseMpegAudioHeader(header, h) && h.versionIndex != 0 && h.layer == 3)
        return DecoderRoute::BuiltIn; // MPEG-2/2.5 Layer III
    return DecoderRoute::MpegAudioLibrary;
}

Demuxer::Demuxer() : impl_(std::make_unique<Impl>()) {}
Demuxer::~Demuxer() = default;

void Demuxer::setOutlet(DemuxOutlet* outlet) {
    impl_->outlet = outlet;
}

void Demuxer::setRunFlag(const std::atomic<bool>& runFlag) {
    impl_->run = &runFlag;
}

void Demuxer::setFastCopy(FILE* stream) {
    impl_->fastCopy = stream != nullptr;
    impl_->fastCopyStream = stream;
    impl_->fastCopyFailed = false;
}

bool Demuxer::fastCopyFailed() const {
    return impl_->fastCopyFailed;
}

int32_t Demuxer::mode() const {
    return impl_->mode;
}

const DemuxStats& Demuxer::stats() const {
    return impl_->stats;
}

void Demuxer::demuxReset(int32_t mode) {
    Impl& d = *impl_;
    d.mode = (mode == 0 || mode == 3) ? kDemuxTsNoPat : mode;
    d.mainAsm.reset();
    d.directAsm.reset();
    d.ac3.reset();
    d.ac3Pes.buf.clear();
    d.ac3Pes.active = false;
    d.ps = ProgramStream{};
    d.ts = TransportStream{};
    d.stats = DemuxStats{};
}

void Demuxer::demuxSeek() {
    Impl& d = *impl_;
    d.mainAsm.size = 0;
    d.mainAsm.syncState = 0;
    d.mainAsm.count = 0;
    d.mainAsm.resume = 0;
    d.directAsm.size = 0;
    d.directAsm.syncState = 0;
    d.directAsm.resume = 0;
    d.ac3.size = 0;
    d.ac3.synced = false;
    d.ac3.resume = 0;
    d.ac3Pes.active = false;
    d.ps.state = kSeek;
    d.ps.owed = 0;
    d.ps.window = 0xFFFFFFFF;
    d.ps.hdrLen = 0;
    d.ts.carryLen = 0;
    d.ts.skip = 0;
    d.ts.realign = true;
    d.ts.pesActive = false;
}

int Demuxer::tsPacketSize() const {
    return impl_->ts.packetSize ? impl_->ts.packetSize : 188;
}

int Demuxer::demuxChunk(const uint8_t* bytes, int length) {
    if (length < 0 || length > kMaxDemuxChunk || (length > 0 && !bytes)) return -1;
    Impl& d = *impl_;
    switch (d.mode) {
    case kDemuxTsNoPat:
    case kDemuxTsNoPmt:
    case kDemuxTsRunning: {
        bool tables = d.mode != kDemuxTsRunning;
        d.ts.badSync = false;
        d.tsFeed(bytes, length);
        return (tables && d.ts.badSync) ? -2 : 0;
    }
    case kDemuxPs:
    case kDemuxPsAc3:
    case kDemuxPsMpeg:
        d.psFeed(bytes, length);
        return 0;
    case kDemuxMpegAudio:
        d.assemble(d.mainAsm, bytes, length, kMainConfig, false);
        return 0;
    case kDemuxAc3:
        d.ac3Feed(bytes, length, false);
        return 0;
    default:
        return -1;
    }
}

void Demuxer::demuxFinish() {
    Impl& d = *impl_;
    if (d.mainAsm.size > 0) d.assemble(d.mainAsm, nullptr, 0, kMainConfig, true);
    d.flushBatch(d.mainAsm);
    if (d.directAsm.size > 0) {
        d.directAsm.shortStep = false;
        d.assemble(d.directAsm, nullptr, 0, kDirectConfig, true);
    }
    d.flushBatch(d.directAsm);
    if (d.ac3.size > 0) d.ac3Feed(nullptr, 0, true);
}

void Demuxer::feedMpegAudio(const uint8_t* bytes, int length, DecoderRoute route, bool shortStep) {
    if (!bytes || length <= 0) return;
    Impl& d = *impl_;
    if (!d.directAsm.routeFromStream) d.directAsm.route = route;
    d.directAsm.routeSet = true;
    d.directAsm.shortStep = shortStep;
    while (length > 0) {
        int take = std::min(length, kMaxDemuxChunk);
        d.assemble(d.directAsm, bytes, take, kDirectConfig, false);
        bytes += take;
        length -= take;
    }
}

Demuxer& mainDemuxer() {
    static Demuxer demuxer;
    return demuxer;
}

void setDemuxOutlet(DemuxOutlet* outlet) {
    mainDemuxer().setOutlet(outlet);
}

const DemuxStats& demuxStats() {
    return mainDemuxer().stats();
}

void demuxReset(int32_t mode) {
    mainDemuxer().demuxReset(mode);
}

void demuxSeek() {
    mainDemuxer().demuxSeek();
}

int demuxChunk(const uint8_t* bytes, int length) {
    return mainDemuxer().demuxChunk(bytes, length);
}

void demuxFinish() {
    mainDemuxer().demuxFinish();
}

void feedMpegAudio(const uint8_t* bytes, int length, DecoderRoute route, bool shortStep) {
    mainDemuxer().feedMpegAudio(bytes, length, route, shortStep);
}

} // namespace kestrel
