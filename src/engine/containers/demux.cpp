#include "engine/containers/demux.h"

#include "engine/containers/mpeg_audio_frame.h"
#include "engine/containers/texts.h"
#include "engine/core/run_state.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace kestrel {

static_assert(kFrameSlotBytes >= kMaxMpegFrameBytes);

std::atomic<bool> fast_copy{false};
FILE* fast_copy_stream = nullptr;
std::atomic<bool> fast_copy_failed{false};
int32_t demuxMode = kDemuxMpegAudio;

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

DemuxOutlet* gOutlet = nullptr;
DemuxStats gStats;

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
int pesHeaderLength(const uint8_t* h, int have, bool& stuffingNoted) {
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
            ++gStats.stuffingMessages;
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
        firstBatch = true;
        count = 0;
    }
};

Assembler gMain;
Assembler gDirect;

const AssemblerConfig kMainConfig{1, 10000, false};
const AssemblerConfig kDirectConfig{kMinMpegFrameBytes, 8000, true};

bool matchesRef(const Assembler& a, const uint8_t* p) {
    return sameMpegAudioStream(a.ref, p);
}

void flushBatch(Assembler& a) {
    if (a.count == 0) return;
    if (fast_copy.load(std::memory_order_relaxed) && fast_copy_stream) {
        for (int i = 0; i < a.count; ++i) {
            size_t n = size_t(a.batch[i].length);
            if (std::fwrite(a.batch[i].data, 1, n, fast_copy_stream) != n) fast_copy_failed = true;
        }
    } else if (gOutlet) {
        gOutlet->mpegFrames(a.batch, a.count, a.route, a.firstBatch);
    }
    a.firstBatch = false;
    a.count = 0;
}

void emitFrame(Assembler& a, const uint8_t* p, int len, const AssemblerConfig& cfg) {
    if (len > kMaxMpegFrameBytes || len < cfg.minFrame) {
        ++gStats.droppedFrames;
        return;
    }
    if (!a.routeSet) {
        a.routeSet = true;
        if (!cfg.direct) a.route = routeForHeader(p);
    }
    FrameSlot& s = a.batch[a.count++];
    std::memcpy(s.data, p, size_t(len));
    s.length = len;
    ++gStats.mpegFrames;
    if (a.count == kFrameBatch) flushBatch(a);
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

void assemble(Assembler& a, const uint8_t* data, int n, const AssemblerConfig& cfg, bool flush) {
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
        if (!running.load(std::memory_order_relaxed)) {
            a.count = 0; // stopping: the batch is emptied
            a.size = 0;
            a.resume = 0;
            return;
        }
        if (!matchesRef(a, a.buf + pos)) break; // only after the last frame of a stream
        MpegAudioHeader h;
        bool parsed = parseMpegAudioHeader(a.buf + pos, h);
        int computed = parsed ? mpegFrameLength(a.buf + pos, a.freeBytes) : 0;
        int end = -1;
        if (computed > 0) {
            if (pos + computed + 4 <= a.size) {
                if (matchesRef(a, a.buf + pos + computed)) end = pos + computed;
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
        emitFrame(a, a.buf + pos, end - pos, cfg);
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
Ac3Splitter gAc3;

// The low bit of frmsizecod (byte 4) is not compared: at 44.1 kHz it is the
// padding flag and changes from frame to frame of one stream.
bool ac3MatchesRef(const uint8_t* p) {
    return p[0] == 0x0B && p[1] == 0x77 && ((p[4] ^ gAc3.ref[0]) & 0xFE) == 0 &&
           p[5] == gAc3.ref[1] && p[6] == gAc3.ref[2];
}

void emitAc3(const uint8_t* p, int len) {
    if (len >= 2000 || len < 7) return;
    ++gStats.ac3Frames;
    if (gOutlet && !fast_copy.load(std::memory_order_relaxed)) gOutlet->ac3Frame(p, len);
}

void ac3Feed(const uint8_t* data, int n, bool flush) {
    Ac3Splitter& s = gAc3;
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

// Private stream 1 packets of a program stream, collected whole.
struct Ac3Pes {
    std::vector<uint8_t> buf;
    size_t need = 0;
    bool active = false;
};
Ac3Pes gAc3Pes;

void ac3PesComplete() {
    const std::vector<uint8_t>& b = gAc3Pes.buf;
    gAc3Pes.active = false;
    if (b.size() < 9) return;
    size_t sub = 9 + size_t(b[8]);
    if (sub + 4 > b.size() || b[sub] != 0x80) return;
    ac3Feed(b.data() + sub + 4, int(b.size() - sub - 4), false);
}

void ac3PesStart(const uint8_t* hdr, int length) {
    gAc3Pes.buf.assign(hdr, hdr + 6);
    gAc3Pes.need = size_t(length) + 6;
    gAc3Pes.active = length > 0;
}

void ac3PesAppend(const uint8_t* p, int n) {
    if (!gAc3Pes.active) return;
    gAc3Pes.buf.insert(gAc3Pes.buf.end(), p, p + n);
    if (gAc3Pes.buf.size() >= gAc3Pes.need) ac3PesComplete();
}

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
ProgramStream gPs;

void psFeed(const uint8_t* p, int n);

// Treats the header collected so far as lost synchronisation: the search
// continues after its start code.
void psLostSync() {
    uint8_t rest[320];
    int n = gPs.hdrLen - 4;
    std::memcpy(rest, gPs.hdr + 4, size_t(std::max(0, n)));
    gPs.state = kSeek;
    gPs.window = 0xFFFFFFFF;
    gPs.hdrLen = 0;
    if (n > 0) psFeed(rest, n);
}

void psEnter(int state, int64_t owed) {
    gPs.state = owed > 0 ? state : kSeek;
    gPs.owed = owed;
    gPs.window = 0xFFFFFFFF;
    gPs.hdrLen = 0;
}

// Called after each byte added to the header; acts once it is complete.
void psHeaderStep() {
    const uint8_t* h = gPs.hdr;
    int have = gPs.hdrLen;
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
    int hl = pesHeaderLength(h, have, gPs.stuffingNoted);
    if (hl > total) {
        gPs.stuffingNoted = false;
        psEnter(kSkipOther, total - have); // the header overruns its packet
        return;
    }
    if (hl == 0 || hl > have) {
        if (have >= total || have >= int(sizeof gPs.hdr)) {
            gPs.stuffingNoted = false;
            psLostSync();
        }
        return; // more header bytes to come
    }
    gPs.stuffingNoted = false;
    // Bytes already collected beyond the header belong to the payload.
    int extra = have - hl;
    int64_t payload = total - hl;
    if (extra > 0) {
        uint8_t tmp[320];
        std::memcpy(tmp, h + hl, size_t(extra));
        assemble(gMain, tmp, extra, kMainConfig, false);
        payload -= extra;
    }
    psEnter(kAudio, payload);
}

void psFeed(const uint8_t* p, int n) {
    int i = 0;
    while (i < n) {
        switch (gPs.state) {
        case kSkipVideo:
        case kSkipOther:
        case kAudio:
        case kPrivate: {
            int take = int(std::min<int64_t>(gPs.owed, n - i));
            if (gPs.state == kAudio)
                assemble(gMain, p + i, take, kMainConfig, false);
            else if (gPs.state == kPrivate)
                ac3PesAppend(p + i, take);
            i += take;
            gPs.owed -= take;
            if (gPs.owed <= 0) psEnter(kSeek, 0);
            break;
        }
        case kSeek: {
            uint32_t w = gPs.window;
            while (i < n) {
                w = (w << 8) | p[i++];
                if ((w & 0xFFFFFF00u) == 0x00000100u && (w & 0xFF) >= 0xB9) {
                    gPs.hdr[0] = 0;
                    gPs.hdr[1] = 0;
                    gPs.hdr[2] = 1;
                    gPs.hdr[3] = uint8_t(w & 0xFF);
                    gPs.hdrLen = 4;
                    gPs.state = kHeader;
                    break;
                }
            }
            gPs.window = w;
            if (gPs.state == kHeader && gPs.hdr[3] == 0xB9) psEnter(kSeek, 0); // end code
            break;
        }
        case kHeader:
            gPs.hdr[gPs.hdrLen++] = p[i++];
            psHeaderStep();
            break;
        }
    }
}

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
    // Audio PES being passed on.
    bool pesActive = false;
    int64_t pesRemaining = 0; // -1: unbounded
    bool stuffingNoted = false;
};
TransportStream gTs;

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

void tsPat(const uint8_t* pkt) {
    int avail;
    const uint8_t* s = tsSection(pkt, avail);
    if (!s || s[0] != 0x00) return;
    // The table repeats all through the stream: only the first one counts,
    // so that the walk through the program maps is not started over.
    if (gTs.pmtCount > 0) return;
    int sectionLength = ((s[1] & 0x0F) << 8) | s[2];
    int end = std::min(avail, 3 + sectionLength - 4); // before the CRC
    for (int e = 8; e + 4 <= end; e += 4) {
        int program = be16(s + e);
        int pid = ((s[e + 2] & 0x1F) << 8) | s[e + 3];
        if (program != 0 && gTs.pmtCount < 64) {
            gTs.programs[gTs.pmtCount] = uint16_t(program);
            gTs.pmtPids[gTs.pmtCount++] = pid;
        }
    }
    if (gTs.pmtCount > 0) {
        gTs.pmtPid = gTs.pmtPids[0];
        gTs.pmtNext = 1;
        demuxMode = kDemuxTsNoPmt;
    }
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

void tsPmt(const uint8_t* pkt) {
    int avail;
    const uint8_t* s = tsSection(pkt, avail);
    if (!s || s[0] != 0x02 || avail < 12) return;
    // Maps of several programs may share a PID: take the one being tried.
    if (gTs.pmtNext > 0 && be16(s + 3) != gTs.programs[gTs.pmtNext - 1]) return;
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
    gTs.videoPid = video;
    // The sound of the first program that has any: a program without audio
    // sends the search on to the next map.
    if (audio < 0 && gTs.pmtNext < gTs.pmtCount) {
        gTs.pmtPid = gTs.pmtPids[gTs.pmtNext++];
        return;
    }
    gTs.audioPid = audio;
    gTs.audioAc3 = ac3;
    gStats.videoPid = video;
    gStats.audioPid = audio;
    gStats.audioIsAc3 = ac3;
    demuxMode = kDemuxTsRunning;
}

void tsAudioPayload(const uint8_t* p, int n) {
    if (gTs.audioAc3)
        ac3Feed(p, n, false);
    else
        assemble(gMain, p, n, kMainConfig, false);
}

void tsAudio(const uint8_t* pkt) {
    int off;
    if (!tsPayload(pkt, off)) return;
    const uint8_t* p = pkt + off;
    int n = 188 - off;
    if (pkt[1] & 0x40) {
        gTs.pesActive = false;
        if (n < 9 || p[0] != 0 || p[1] != 0 || p[2] != 1) return;
        int length = be16(p + 4);
        int hl = pesHeaderLength(p, n, gTs.stuffingNoted);
        gTs.stuffingNoted = false;
        if (hl == 0 || hl > n || (length != 0 && hl > length + 6)) return;
        gTs.pesActive = true;
        gTs.pesRemaining = length != 0 ? length + 6 - hl : -1;
        p += hl;
        n -= hl;
    } else if (!gTs.pesActive) {
        return;
    }
    if (gTs.pesRemaining >= 0) {
        n = int(std::min<int64_t>(n, gTs.pesRemaining));
        gTs.pesRemaining -= n;
    }
    if (n > 0) tsAudioPayload(p, n);
}

void tsPacket(const uint8_t* pkt) {
    int pid = ((pkt[1] & 0x1F) << 8) | pkt[2];
    if (demuxMode == kDemuxTsNoPat || demuxMode == kDemuxTsNoPmt) {
        if (pid == 0)
            tsPat(pkt);
        else if (pid == gTs.pmtPid)
            tsPmt(pkt);
        return;
    }
    // Video is never decoded: only the audio PID matters once the map is read.
    if (pid == gTs.audioPid && gTs.audioPid >= 0) tsAudio(pkt);
}

void tsFeed(const uint8_t* p, int n) {
    int i = 0;
    if (gTs.carryLen > 0) {
        int take = std::min(188 - gTs.carryLen, n);
        std::memcpy(gTs.carry + gTs.carryLen, p, size_t(take));
        gTs.carryLen += take;
        i = take;
        if (gTs.carryLen < 188) return;
        gTs.carryLen = 0;
        tsPacket(gTs.carry);
    }
    while (i < n) {
        // A packet starts with 0x47; after lost sync also the next one must.
        if (p[i] != 0x47 || (gTs.badSync && i + 188 < n && p[i + 188] != 0x47)) {
            gTs.badSync = true;
            ++i;
            continue;
        }
        if (n - i < 188) {
            std::memcpy(gTs.carry, p + i, size_t(n - i));
            gTs.carryLen = n - i;
            break;
        }
        tsPacket(p + i);
        i += 188;
    }
}

} // namespace

DecoderRoute routeForHeader(const uint8_t* header) {
    MpegAudioHeader h;
    if (parseMpegAudioHeader(header, h) && h.versionIndex != 0 && h.layer == 3)
        return DecoderRoute::BuiltIn; // MPEG-2/2.5 Layer III
    return DecoderRoute::MpegAudioLibrary;
}

void setDemuxOutlet(DemuxOutlet* outlet) {
    gOutlet = outlet;
}

const DemuxStats& demuxStats() {
    return gStats;
}

void demuxReset(int32_t mode) {
    demuxMode = (mode == 0 || mode == 3) ? kDemuxTsNoPat : mode;
    gMain.reset();
    gDirect.reset();
    gAc3.reset();
    gAc3Pes.buf.clear();
    gAc3Pes.active = false;
    gPs = ProgramStream{};
    gTs = TransportStream{};
    gStats = DemuxStats{};
}

void demuxSeek() {
    gMain.size = 0;
    gMain.syncState = 0;
    gMain.count = 0;
    gMain.resume = 0;
    gDirect.size = 0;
    gDirect.syncState = 0;
    gDirect.resume = 0;
    gAc3.size = 0;
    gAc3.synced = false;
    gAc3.resume = 0;
    gAc3Pes.active = false;
    gPs.state = kSeek;
    gPs.owed = 0;
    gPs.window = 0xFFFFFFFF;
    gPs.hdrLen = 0;
    gTs.carryLen = 0;
    gTs.pesActive = false;
}

int demuxChunk(const uint8_t* bytes, int length) {
    if (length < 0 || length > kMaxDemuxChunk || (length > 0 && !bytes)) return -1;
    switch (demuxMode) {
    case kDemuxTsNoPat:
    case kDemuxTsNoPmt:
    case kDemuxTsRunning: {
        bool tables = demuxMode != kDemuxTsRunning;
        gTs.badSync = false;
        tsFeed(bytes, length);
        return (tables && gTs.badSync) ? -2 : 0;
    }
    case kDemuxPs:
    case kDemuxPsAc3:
    case kDemuxPsMpeg:
        psFeed(bytes, length);
        return 0;
    case kDemuxMpegAudio:
        assemble(gMain, bytes, length, kMainConfig, false);
        return 0;
    case kDemuxAc3:
        ac3Feed(bytes, length, false);
        return 0;
    default:
        return -1;
    }
}

void demuxFinish() {
    if (gMain.size > 0) assemble(gMain, nullptr, 0, kMainConfig, true);
    flushBatch(gMain);
    if (gDirect.size > 0) {
        gDirect.shortStep = false;
        assemble(gDirect, nullptr, 0, kDirectConfig, true);
    }
    flushBatch(gDirect);
    if (gAc3.size > 0) ac3Feed(nullptr, 0, true);
}

void feedMpegAudio(const uint8_t* bytes, int length, DecoderRoute route, bool shortStep) {
    if (!bytes || length <= 0) return;
    gDirect.route = route;
    gDirect.routeSet = true;
    gDirect.shortStep = shortStep;
    while (length > 0) {
        int take = std::min(length, kMaxDemuxChunk);
        assemble(gDirect, bytes, take, kDirectConfig, false);
        bytes += take;
        length -= take;
    }
}

} // namespace kestrel
