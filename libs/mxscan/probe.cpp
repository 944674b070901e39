#include "mxscan/probe.h"

#include "engine/core/mpeg_audio_header.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace mxscan {
namespace {

constexpr size_t kHeadBytes = 2u << 20;
constexpr size_t kTailBytes = 1u << 20;
constexpr size_t kCollectBytes = 64u << 10;
constexpr int64_t kPtsWrap = int64_t(1) << 33;
// Frame rates of AVI video taken as real (frames per second).
constexpr double kMinAviFps = 0.01;
constexpr double kMaxAviFps = 1000.0;

uint16_t be16(const uint8_t* p) {
    return uint16_t((p[0] << 8) | p[1]);
}
uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
uint16_t le16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
void put32(uint8_t* p, uint32_t v) {
    std::memcpy(p, &v, 4);
}

class File {
  public:
    explicit File(const std::string& path) : f_(std::fopen(path.c_str(), "rb")) {
        if (f_ && fseeko(f_, 0, SEEK_END) == 0) size_ = std::max<int64_t>(0, ftello(f_));
    }
    ~File() {
        if (f_) std::fclose(f_);
    }
    bool ok() const { return f_ != nullptr; }
    int64_t size() const { return size_; }
    // Reads up to n bytes at off; the count read.
    size_t read(int64_t off, uint8_t* dst, size_t n) {
        if (off < 0 || off >= size_ || fseeko(f_, off_t(off), SEEK_SET) != 0) return 0;
        return std::fread(dst, 1, n, f_);
    }
    std::vector<uint8_t> region(int64_t off, size_t n) {
        if (off < 0 || off >= size_) return {};
        n = size_t(std::min<int64_t>(int64_t(n), size_ - off));
        std::vector<uint8_t> v(n);
        v.resize(read(off, v.data(), n));
        return v;
    }

  private:
    FILE* f_;
    int64_t size_ = 0;
};

// ------------------------------------------------------------ MPEG audio

// An MPEG audio header with the stream's measured free-format frame length.
struct Mpa {
    kestrel::MpegAudioHeader h;
    int freeBase = 0; // free format: the measured frame length without its padding slot
    int bytes = 0;    // this frame's length (0: free format not measured)
};

// Parses a header. A free-format header (bit-rate index 0) gives a length
// only when the stream's measured `freeBase` is known, else 0.
bool parseMpa(const uint8_t* p, Mpa& m, int freeBase = 0) {
    if (!kestrel::parseMpegAudioHeader(p, m.h)) return false;
    m.freeBase = m.h.bitRateIndex == 0 ? freeBase : 0;
    m.bytes = kestrel::mpegFrameBytes(m.h, m.freeBase);
    return true;
}

// First header followed by two more of the same stream, each one frame on.
int64_t findMpa(const uint8_t* b, size_t n, Mpa& out) {
    int freeTries = 0;
    for (size_t i = 0; i + 4 <= n; ++i) {
        if (b[i] != 0xFF) continue;
        Mpa m;
        if (!parseMpa(b + i, m)) continue;
        // A region full of false free-format headers is not measured for ever.
        if (m.bytes == 0 && ++freeTries > 256) continue;
        int base = 0;
        if (kestrel::confirmMpegAudioStart(b + i, n - i, base) != 1) continue;
        parseMpa(b + i, m, base);
        out = m;
        return int64_t(i);
    }
    return -1;
}

// Counts the frames of an MPEG audio elementary stream from `start` to the end
// (`freeBase`: the measured frame length of a free-format stream).
int64_t countMpaFrames(File& f, int64_t start, const uint8_t* ref, int freeBase) {
    std::vector<uint8_t> buf(size_t(std::clamp<int64_t>(f.size() - start, 4, 1 << 20)));
    int64_t pos = start, frames = 0;
    while (pos + 4 <= f.size()) {
        size_t got = f.read(pos, buf.data(), buf.size());
        if (got < 4) break;
        size_t i = 0;
        while (i + 4 <= got) {
            Mpa h;
            if (kestrel::sameMpegAudioStream(ref, buf.data() + i) &&
                parseMpa(buf.data() + i, h, freeBase) && h.bytes > 0) {
                if (i + size_t(h.bytes) > got && pos + int64_t(i) + h.bytes <= f.size() &&
                    got == buf.size())
                    break; // frame continues in the next block
                ++frames;
                i += size_t(h.bytes);
            } else {
                ++i; // lost: search for the next header
            }
        }
        if (i == 0) break;
        pos += int64_t(i);
        if (got < buf.size()) break;
    }
    return frames;
}

// ------------------------------------------------------------ AC-3

struct Ac3 {
    int rate = 0, bitRate = 0, channels = 0, bytes = 0;
};

bool parseAc3(const uint8_t* p, Ac3& h) {
    static const uint16_t words[3][19] = {{64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448,
                                           512, 640, 768, 896, 1024, 1152, 1280},
                                          {69, 87, 104, 121, 139, 174, 208, 243, 278, 348, 417, 487,
                                           557, 696, 835, 975, 1114, 1253, 1393},
                                          {96, 120, 144, 168, 192, 240, 288, 336, 384, 480, 576,
                                           672, 768, 960, 1152, 1344, 1536, 1728, 1920}};
    static const int kbps[19] = {32,  40,  48,  56,  64,  80,  96,  112, 128, 160,
                                 192, 224, 256, 320, 384, 448, 512, 576, 640};
    static const int rates[3] = {48000, 44100, 32000};
    static const int nfchans[8] = {2, 1, 2, 3, 3, 4, 4, 5};
    if (p[0] != 0x0B || p[1] != 0x77) return false;
    int fscod = p[4] >> 6, code = p[4] & 0x3F;
    if (fscod == 3 || code >= 38 || (p[5] >> 3) > 10) return false;
    h.rate = rates[fscod];
    h.bitRate = kbps[code >> 1] * 1000;
    h.bytes = (words[fscod][code >> 1] + ((fscod == 1 && (code & 1)) ? 1 : 0)) * 2;
    // acmod and the optional mix levels before lfeon.
    uint32_t bits = (uint32_t(p[6]) << 8) | p[7];
    int acmod = bits >> 13, used = 3;
    if ((acmod & 1) && acmod != 1) used += 2;
    if (acmod & 4) used += 2;
    if (acmod == 2) used += 2;
    int lfe = (bits >> (15 - used)) & 1;
    h.channels = nfchans[acmod] + lfe;
    return true;
}

int64_t findAc3(const uint8_t* b, size_t n, Ac3& out) {
    for (size_t i = 0; i + 8 <= n; ++i) {
        Ac3 h, h2;
        if (b[i] != 0x0B || !parseAc3(b + i, h)) continue;
        size_t j = i + size_t(h.bytes);
        if (j + 8 > n || !parseAc3(b + j, h2) || h2.rate != h.rate) continue;
        out = h;
        return int64_t(i);
    }
    return -1;
}

// ------------------------------------------------------------ MPEG video

bool findSequenceHeader(const uint8_t* b, size_t n, ProbeResult& r) {
    static const double rates[16] = {
        0, 24000.0 / 1001, 24, 25, 30000.0 / 1001, 30, 50, 60000.0 / 1001, 60, 0, 0, 0, 0, 0, 0, 0};
    for (size_t i = 0; i + 12 <= n; ++i) {
        if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1 && b[i + 3] == 0xB3) {
            const uint8_t* p = b + i + 4;
            r.width = (p[0] << 4) | (p[1] >> 4);
            r.height = ((p[1] & 0x0F) << 8) | p[2];
            r.frameRate = rates[p[3] & 0x0F];
            r.videoBitRate =
                int(((uint32_t(p[4]) << 10) | (uint32_t(p[5]) << 2) | (p[6] >> 6)) * 400u);
            return true;
        }
    }
    return false;
}

// ------------------------------------------------------------ PES

int64_t readPts(const uint8_t* p) {
    return (int64_t((p[0] >> 1) & 7) << 30) | (int64_t(p[1]) << 22) | (int64_t(p[2] >> 1) << 15) |
           (int64_t(p[3]) << 7) | (p[4] >> 1);
}

// Header length of the PES at h (have bytes), 0 when incomplete; its PTS or -1.
int pesHeader(const uint8_t* h, size_t have, int64_t& pts) {
    pts = -1;
    if (have < 9) return 0;
    if ((h[6] & 0xC0) == 0x80) {
        size_t hl = 9 + size_t(h[8]);
        if (hl > have) return 0;
        if ((h[7] & 0x80) && hl >= 14) pts = readPts(h + 9);
        return int(hl);
    }
    size_t k = 6;
    while (k < have && h[k] == 0xFF && k < 40)
        ++k;
    if (k >= have) return 0;
    if ((h[k] & 0xC0) == 0x40) k += 2;
    if (k >= have) return 0;
    size_t hl = k + 1;
    if ((h[k] & 0xF0) == 0x20) hl = k + 5;
    if ((h[k] & 0xF0) == 0x30) hl = k + 10;
    if (hl > have) return 0;
    if ((h[k] & 0xE0) == 0x20) pts = readPts(h + k);
    return int(hl);
}

struct StreamScan {
    bool packs = false;
    bool video = false;
    int audioId = -1; // program stream id or transport PID of the audio
    bool audioAc3 = false;
    bool seen[256] = {};
    int count = 0;
    std::vector<uint8_t> audio, videoData;
    int64_t firstPts = -1, lastPts = -1;
    int64_t firstAudioOffset = -1;
    // Transport stream tables.
    bool pmtDone = false;
    bool pesOpen = false;
};

// One program of a transport stream, from the association table and its map.
struct TsProgram {
    int number = 0, pmtPid = -1;
    bool parsed = false;
    int videoPid = -1, audioPid = -1;
    bool audioAc3 = false;
};

void notePts(StreamScan& s, int64_t pts) {
    if (pts < 0) return;
    if (s.firstPts < 0) s.firstPts = pts;
    s.lastPts = pts;
}

void collect(std::vector<uint8_t>& v, const uint8_t* p, size_t n) {
    if (v.size() >= kCollectBytes) return;
    n = std::min(n, kCollectBytes - v.size());
    v.insert(v.end(), p, p + n);
}

void markStream(StreamScan& s, int id) {
    if (!s.seen[id & 0xFF]) {
        s.seen[id & 0xFF] = true;
        ++s.count;
    }
}

// Program and PES streams (also VCD sector files: the sector headers between
// packs are passed over by the start-code search).
void scanPs(const uint8_t* b, size_t n, int64_t base, StreamScan& s, bool head) {
    size_t i = 0;
    while (i + 4 <= n) {
        if (b[i] != 0 || b[i + 1] != 0 || b[i + 2] != 1) {
            ++i;
            continue;
        }
        int id = b[i + 3];
        if (id < 0xB9) {
            i += 3;
            continue;
        }
        if (id == 0xB9) {
            i += 4;
            continue;
        }
        if (id == 0xBA) {
            if (i + 14 > n) break;
            if ((b[i + 4] & 0xC0) == 0x40)
                i += 14 + (b[i + 13] & 7);
            else if ((b[i + 4] & 0xF0) == 0x20)
                i += 12;
            else
                i += 4;
            if (head) s.packs = true;
            continue;
        }
        if (i + 6 > n) break;
        size_t length = be16(b + i + 4);
        size_t end = std::min(n, i + 6 + length);
        bool audio = id >= 0xC0 && id <= 0xDF, video = id >= 0xE0 && id <= 0xEF;
        if (audio || video || id == 0xBD) {
            int64_t pts;
            int hl = pesHeader(b + i, end - i, pts);
            if (hl <= 0 || length == 0) {
                i += 4;
                continue;
            }
            const uint8_t* pay = b + i + hl;
            size_t plen = end - i - size_t(hl);
            int key = id;
            if (id == 0xBD) {
                if (plen < 4) {
                    i = end;
                    continue;
                }
                key = pay[0] == 0x80 ? 0xBD : -1;
                pay += 4;
                plen -= 4;
            }
            if (video) {
                if (head) {
                    markStream(s, id);
                    s.video = true;
                    if (s.videoData.size() < 4096) collect(s.videoData, pay, plen);
                }
            } else if (key >= 0) {
                if (head) {
                    markStream(s, key);
                    if (s.audioId < 0) {
                        s.audioId = key;
                        s.audioAc3 = key == 0xBD;
                        s.firstAudioOffset = base + int64_t(i);
                    }
                }
                if (key == s.audioId) {
                    notePts(s, pts);
                    if (head) collect(s.audio, pay, plen);
                }
            }
        }
        i = i + 6 + length;
    }
}

void scanTsPmt(const uint8_t* sec, size_t avail, StreamScan& s, TsProgram& prog) {
    if (avail < 12 || sec[0] != 0x02) return;
    size_t sectionLength = ((sec[1] & 0x0F) << 8) | sec[2];
    size_t end = std::min(avail, 3 + sectionLength >= 4 ? 3 + sectionLength - 4 : 0);
    size_t e = 12 + (((sec[10] & 0x0F) << 8) | sec[11]);
    while (e + 5 <= end) {
        int type = sec[e], pid = ((sec[e + 1] & 0x1F) << 8) | sec[e + 2];
        size_t info = ((sec[e + 3] & 0x0F) << 8) | sec[e + 4];
        ++s.count;
        if ((type == 1 || type == 2) && prog.videoPid < 0) {
            prog.videoPid = pid;
            s.video = true;
        }
        bool ac3 = type == 0x81;
        if (type == 0x06) {
            for (size_t d = e + 5; d + 2 <= std::min(end, e + 5 + info);) {
                int tag = sec[d], l = sec[d + 1];
                if (tag == 0x6A || tag == 0x7A ||
                    (tag == 0x05 && l >= 4 && d + 6 <= end &&
                     std::memcmp(sec + d + 2, "AC-3", 4) == 0))
                    ac3 = true;
                d += 2 + size_t(l);
            }
        }
        if (prog.audioPid < 0 && (type == 3 || type == 4 || ac3)) {
            prog.audioPid = pid;
            prog.audioAc3 = ac3;
        }
        e += 5 + info;
    }
    prog.parsed = true;
}

// The sound is that of the first program (in the association table's order)
// whose map names an audio stream. Decided once the maps before it are known,
// or with `final` from the maps found at all. The video PID is the chosen
// program's, else the first one named.
bool chooseTsProgram(const std::vector<TsProgram>& programs, bool final, StreamScan& s,
                     int& videoPid) {
    const TsProgram* chosen = nullptr;
    for (const TsProgram& p : programs) {
        if (!p.parsed) {
            if (final) continue;
            return false;
        }
        if (p.audioPid >= 0) {
            chosen = &p;
            break;
        }
    }
    if (!final && !chosen && programs.empty()) return false;
    if (chosen) {
        s.audioId = chosen->audioPid;
        s.audioAc3 = chosen->audioAc3;
        videoPid = chosen->videoPid;
    }
    for (const TsProgram& p : programs)
        if (videoPid < 0 && p.videoPid >= 0) videoPid = p.videoPid;
    s.pmtDone = true;
    return true;
}

// The association table and the program maps, until the program is chosen.
void scanTsTables(const uint8_t* b, size_t n, size_t start, size_t stride, StreamScan& s,
                  int& videoPid) {
    std::vector<TsProgram> programs;
    bool patSeen = false;
    for (size_t i = start; i + 188 <= n && !s.pmtDone;) {
        if (b[i] != 0x47) {
            ++i;
            while (i + 188 <= n && !(b[i] == 0x47 && (i + 2 * stride > n || b[i + stride] == 0x47)))
                ++i;
            continue;
        }
        const uint8_t* p = b + i;
        i += stride;
        int pid = ((p[1] & 0x1F) << 8) | p[2];
        int afc = (p[3] >> 4) & 3;
        size_t off = 4 + ((afc & 2) ? 1 + size_t(p[4]) : 0);
        if (!(p[1] & 0x40) || !(afc & 1) || off >= 188) continue;
        size_t so = off + 1 + p[off];
        if (so + 12 > 188) continue;
        const uint8_t* sec = p + so;
        if (pid == 0) {
            if (patSeen || sec[0] != 0) continue;
            patSeen = true;
            size_t sectionLength = ((sec[1] & 0x0F) << 8) | sec[2];
            size_t end =
                std::min<size_t>(188 - so, 3 + sectionLength >= 4 ? 3 + sectionLength - 4 : 0);
            for (size_t e = 8; e + 4 <= end && programs.size() < 64; e += 4) {
                TsProgram prog;
                prog.number = be16(sec + e);
                prog.pmtPid = ((sec[e + 2] & 0x1F) << 8) | sec[e + 3];
                if (prog.number != 0) programs.push_back(prog);
            }
        } else if (sec[0] == 0x02) {
            for (TsProgram& prog : programs) {
                if (prog.parsed || prog.pmtPid != pid || prog.number != be16(sec + 3)) continue;
                scanTsPmt(sec, 188 - so, s, prog);
                break;
            }
        } else {
            continue;
        }
        if (patSeen) chooseTsProgram(programs, false, s, videoPid);
    }
    if (!s.pmtDone) chooseTsProgram(programs, true, s, videoPid);
}

// The audio packets of the chosen PID (tables already read).
void scanTs(const uint8_t* b, size_t n, size_t start, size_t stride, int64_t base, StreamScan& s,
            bool head) {
    size_t i = start;
    while (i + 188 <= n) {
        if (b[i] != 0x47) {
            ++i;
            while (i + 188 <= n && !(b[i] == 0x47 && (i + 2 * stride > n || b[i + stride] == 0x47)))
                ++i;
            continue;
        }
        const uint8_t* p = b + i;
        int pid = ((p[1] & 0x1F) << 8) | p[2];
        bool unitStart = p[1] & 0x40;
        int afc = (p[3] >> 4) & 3;
        size_t off = 4 + ((afc & 2) ? 1 + size_t(p[4]) : 0);
        if (!(afc & 1) || off >= 188) {
            i += stride;
            continue;
        }
        if (s.audioId >= 0 && pid == s.audioId) {
            const uint8_t* pay = p + off;
            size_t plen = 188 - off;
            if (unitStart) {
                s.pesOpen = false;
                int64_t pts;
                int hl = plen >= 9 && pay[0] == 0 && pay[1] == 0 && pay[2] == 1
                             ? pesHeader(pay, plen, pts)
                             : 0;
                if (hl > 0) {
                    s.pesOpen = true;
                    notePts(s, pts);
                    if (s.firstAudioOffset < 0) s.firstAudioOffset = base + int64_t(i);
                    if (head) collect(s.audio, pay + hl, plen - size_t(hl));
                }
            } else if (s.pesOpen && head) {
                collect(s.audio, pay, plen);
            }
        }
        i += stride;
    }
}

// Offset of the first of five packets 188, 192 or 204 bytes apart (the
// packets of discs and camcorders carry a 4-byte time code before the 188,
// those of some broadcast captures 16 check bytes after them), or -1; the
// spacing goes to `stride`.
int64_t findTs(const uint8_t* b, size_t n, size_t& stride) {
    for (size_t k = 0; k < 204 && k < n; ++k) {
        if (b[k] != 0x47) continue;
        for (size_t size : {188, 192, 204}) {
            int hits = 0;
            size_t i = k;
            for (; i < n && hits < 5 && b[i] == 0x47; i += size)
                ++hits;
            if (hits >= 5 || (hits >= 2 && i >= n)) {
                stride = size;
                // A time code before 192-byte packets may begin with 0x47:
                // the packet is 4 bytes on when the spacing holds there too.
                if (size == 192 && k + 4 + 192 < n && b[k + 4] == 0x47 && b[k + 4 + 192] == 0x47)
                    return int64_t(k + 4);
                return int64_t(k);
            }
        }
    }
    return -1;
}

void finishAudio(ProbeResult& r, const StreamScan& s) {
    if (s.audioId < 0) return;
    if (!s.audioAc3) {
        Mpa m;
        if (findMpa(s.audio.data(), s.audio.size(), m) >= 0) {
            r.audioMode = 0;
            r.audioBitRate = m.h.bitRateKbps * 1000;
            r.sampleRate = m.h.sampleRate;
            r.channels = m.h.channels;
            r.layer = m.h.layer;
            r.version = m.h.versionIndex;
        }
    } else {
        Ac3 h;
        if (findAc3(s.audio.data(), s.audio.size(), h) >= 0) {
            r.audioMode = 1;
            r.ac3Rate = float(h.rate);
            r.ac3BitRate = h.bitRate;
            r.ac3Channels = h.channels;
        }
    }
}

void finishPts(ProbeResult& r, const StreamScan& head, const StreamScan& tail) {
    if (head.firstPts < 0) return;
    int64_t last = tail.lastPts >= 0 ? tail.lastPts : head.lastPts;
    int64_t d = last - head.firstPts;
    if (d < 0) d += kPtsWrap;
    r.minPts = head.firstPts;
    r.maxPts = last;
    r.playTime = int((d + 45000) / 90000);
}

// ------------------------------------------------------------ AVI

bool isMpeg4Fourcc(const uint8_t* c) {
    static const char* const known[] = {"XVID", "DIVX", "DX50", "FMP4", "MP4V", "3IV2", "M4S2",
                                        "DIV5", "DIV6", "MP4S", "RMP4", "XVIX", "UMP4", "BLZ0"};
    char up[5] = {};
    for (int i = 0; i < 4; ++i)
        up[i] = char(c[i] >= 'a' && c[i] <= 'z' ? c[i] - 32 : c[i]);
    for (const char* k : known)
        if (std::memcmp(up, k, 4) == 0) return true;
    return false;
}

void probeAvi(File& f, ProbeResult& r) {
    uint8_t h[12];
    int videoStream = -1, audioStream = -1, streamNo = -1;
    bool mpeg4 = false;
    uint32_t vScale = 0, vRate = 0, aScale = 0, aRate = 0;
    int64_t moviStart = -1, moviEnd = -1, idx1 = -1;
    uint32_t idx1Size = 0;
    // Walk the top level and hdrl/strl lists (bounded by a chunk count).
    std::vector<std::pair<int64_t, int64_t>> lists{{12, f.size()}};
    int chunks = 0;
    while (!lists.empty() && chunks < 10000) {
        auto [pos, end] = lists.back();
        lists.pop_back();
        while (pos + 8 <= end && chunks++ < 10000) {
            if (f.read(pos, h, 12) < 8) break;
            uint32_t size = le32(h + 4);
            int64_t body = pos + 8, next = body + size + (size & 1);
            if (std::memcmp(h, "LIST", 4) == 0 && size >= 4) {
                if (std::memcmp(h + 8, "movi", 4) == 0) {
                    moviStart = body + 4;
                    moviEnd = std::min<int64_t>(next, f.size());
                } else if (std::memcmp(h + 8, "hdrl", 4) == 0 ||
                           std::memcmp(h + 8, "strl", 4) == 0) {
                    if (std::memcmp(h + 8, "strl", 4) == 0) ++streamNo;
                    lists.push_back({next, end});
                    pos = body + 4;
                    end = std::min<int64_t>(next, end);
                    continue;
                }
            } else if (std::memcmp(h, "strh", 4) == 0 && size >= 36) {
                uint8_t s[36];
                if (f.read(body, s, 36) == 36) {
                    if (std::memcmp(s, "vids", 4) == 0 && videoStream < 0) {
                        videoStream = streamNo;
                        vScale = le32(s + 20);
                        vRate = le32(s + 24);
                        std::memcpy(r.mpeg4Video + 8, s + 4, 4);
                        put32(r.mpeg4Video + 16, le32(s + 32));
                        put32(r.mpeg4Video + 20, vScale);
                        put32(r.mpeg4Video + 24, vRate);
                        if (isMpeg4Fourcc(s + 4)) mpeg4 = true;
                    } else if (std::memcmp(s, "auds", 4) == 0 && audioStream < 0) {
                        audioStream = streamNo;
                        aScale = le32(s + 20);
                        aRate = le32(s + 24);
                        put32(r.mpeg4Audio + 16, aScale);
                        put32(r.mpeg4Audio + 20, aRate);
                        put32(r.mpeg4Audio + 24, le32(s + 32));
                    }
                }
            } else if (std::memcmp(h, "strf", 4) == 0) {
                uint8_t s[20] = {};
                size_t got = f.read(body, s, std::min<uint32_t>(size, 20));
                if (streamNo == videoStream && got >= 20) {
                    put32(r.mpeg4Video + 0, le32(s + 4));
                    put32(r.mpeg4Video + 4, le32(s + 8));
                    put32(r.mpeg4Video + 12, le16(s + 14));
                    if (isMpeg4Fourcc(s + 16)) mpeg4 = true;
                } else if (streamNo == audioStream && got >= 16) {
                    put32(r.mpeg4Audio + 0, le16(s));
                    put32(r.mpeg4Audio + 4, le32(s + 8));
                    put32(r.mpeg4Audio + 8, le16(s + 12));
                    put32(r.mpeg4Audio + 12, le16(s + 14));
                    put32(r.mpeg4Audio + 52, le16(s + 2));
                    put32(r.mpeg4Audio + 56, le32(s + 4));
                }
            } else if (std::memcmp(h, "idx1", 4) == 0) {
                idx1 = body;
                idx1Size = size;
            }
            if (next <= pos) break;
            pos = next;
        }
    }
    if (!mpeg4 || videoStream < 0) return;
    r.mainStream = 9;
    r.videoMode = 2;
    double fps = vScale ? double(vRate) / vScale : 0;
    char vTag[4], aTag[4];
    std::snprintf(vTag, sizeof vTag, "%02d", videoStream % 100);
    std::snprintf(aTag, sizeof aTag, "%02d", audioStream >= 0 ? audioStream % 100 : 99);
    auto countChunk = [&](const uint8_t* id) {
        if (std::memcmp(id, vTag, 2) == 0 && (id[2] == 'd')) ++r.videoIndexCount;
        if (audioStream >= 0 && std::memcmp(id, aTag, 2) == 0 && id[2] == 'w') ++r.audioIndexCount;
    };
    if (idx1 >= 0) {
        std::vector<uint8_t> buf(16 * 4096);
        uint32_t done = 0;
        while (done + 16 <= idx1Size) {
            size_t want = std::min<size_t>(buf.size(), (idx1Size - done) / 16 * 16);
            size_t got = f.read(idx1 + done, buf.data(), want) / 16 * 16;
            if (got == 0) break;
            for (size_t e = 0; e < got; e += 16)
                countChunk(buf.data() + e);
            done += uint32_t(got);
        }
    } else if (moviStart >= 0) {
        int64_t pos = moviStart;
        for (int n = 0; pos + 8 <= moviEnd && n < 10000000; ++n) {
            if (f.read(pos, h, 8) < 8) break;
            uint32_t size = le32(h + 4);
            if (std::memcmp(h, "LIST", 4) == 0) {
                pos += 12;
                continue;
            }
            countChunk(h);
            pos += 8 + int64_t(size) + (size & 1);
        }
    }
    // A frame rate no video has (a crafted rate and scale) is reported as 0,
    // which the analysis refuses; so is one that would make the play time,
    // or the 1200 / rate of the analysis, leave the int range.
    if (!(fps >= kMinAviFps && fps <= kMaxAviFps) ||
        double(r.videoIndexCount) / fps > double(INT32_MAX))
        fps = 0;
    std::memcpy(r.mpeg4Video + 48, &fps, 8);
    r.streamCount = (videoStream >= 0) + (audioStream >= 0);
    if (audioStream >= 0) r.audioMode = 0;
    if (fps > 0) r.playTime = int(r.videoIndexCount / fps);
    put32(r.mpeg4Audio + 60, le32(r.mpeg4Audio + 4) * 8);
    (void)aScale;
    (void)aRate;
}

} // namespace

int probeFile(const std::string& path, ProbeResult& r) {
    r = ProbeResult{};
    File f(path);
    if (!f.ok()) return -1;
    r.fileLen = f.size();
    std::vector<uint8_t> head = f.region(0, kHeadBytes);
    const uint8_t* b = head.data();
    size_t n = head.size();
    if (n < 16) return 0;

    if (std::memcmp(b, "RIFF", 4) == 0 && std::memcmp(b + 8, "AVI ", 4) == 0) {
        probeAvi(f, r);
        if (r.playTime > 0) r.allBitRate = r.fileLen * 8 / r.playTime;
        return 0;
    }
    bool cdxa = std::memcmp(b, "RIFF", 4) == 0 && std::memcmp(b + 8, "CDXA", 4) == 0;

    // An ID3v2 tag is passed over before the elementary-stream tests.
    size_t esStart = 0;
    if (std::memcmp(b, "ID3", 3) == 0 && n >= 10) {
        esStart = ((size_t(b[6] & 0x7F) << 21) | ((b[7] & 0x7F) << 14) | ((b[8] & 0x7F) << 7) |
                   (b[9] & 0x7F)) +
                  10;
        if (esStart >= n) {
            head = f.region(int64_t(esStart), kHeadBytes);
            b = head.data();
            n = head.size();
        } else {
            head.erase(head.begin(), head.begin() + int64_t(esStart));
            b = head.data();
            n = head.size();
        }
        if (n < 16) return 0;
    }

    // Which form: the first bytes decide where they can, else the earliest sign.
    size_t stride = 188;
    int64_t ts = esStart == 0 && !cdxa ? findTs(b, std::min<size_t>(n, 204 * 6), stride) : -1;
    int form = -1; // 0 TS, 1 PS, 2 PES, 3 video ES, 4 MPEG audio ES, 5 AC-3 ES
    Mpa mpa;
    Ac3 ac3;
    int64_t mpaAt = findMpa(b, std::min<size_t>(n, 64 << 10), mpa);
    int64_t ac3At = findAc3(b, std::min<size_t>(n, 64 << 10), ac3);
    int64_t codeAt = -1;
    int codeId = 0;
    for (size_t i = 0; i + 4 <= std::min<size_t>(n, 64 << 10); ++i) {
        if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1 &&
            (b[i + 3] == 0xBA || b[i + 3] == 0xB3 || b[i + 3] == 0xBD ||
             (b[i + 3] >= 0xC0 && b[i + 3] <= 0xEF))) {
            codeAt = int64_t(i);
            codeId = b[i + 3];
            break;
        }
    }
    if (cdxa) {
        form = 1;
    } else if (ts == 0 || (stride == 192 && ts == 4)) {
        form = 0;
    } else if (mpaAt == 0) {
        form = 4;
    } else if (ac3At == 0) {
        form = 5;
    } else if (codeAt == 0) {
        form = codeId == 0xBA ? 1 : codeId == 0xB3 ? 3 : 2;
    } else {
        int64_t best = INT64_MAX;
        if (ts >= 0) best = ts, form = 0;
        if (codeAt >= 0 && codeAt < best)
            best = codeAt, form = codeId == 0xBA ? 1 : codeId == 0xB3 ? 3 : 2;
        if (mpaAt >= 0 && mpaAt < best) best = mpaAt, form = 4;
        if (ac3At >= 0 && ac3At < best) best = ac3At, form = 5;
    }
    if (form < 0) return 0; // not a form this probe knows: 999

    if (form == 4) {
        r.mainStream = 3;
        r.audioMode = 0;
        r.streamCount = 1;
        r.begin = int64_t(esStart) + mpaAt;
        r.audioBitRate = mpa.h.bitRateKbps * 1000;
        r.sampleRate = mpa.h.sampleRate;
        r.channels = mpa.h.channels;
        r.layer = mpa.h.layer;
        r.version = mpa.h.versionIndex;
        int64_t frames = countMpaFrames(f, r.begin, b + mpaAt, mpa.freeBase);
        // A Xing/Info or VBRI frame at the start counts the frames itself.
        for (size_t i = size_t(mpaAt); i < size_t(mpaAt) + 64 && i + 12 <= n; ++i) {
            if (std::memcmp(b + i, "Xing", 4) == 0 || std::memcmp(b + i, "Info", 4) == 0) {
                if (b[i + 7] & 1)
                    frames =
                        (int64_t(b[i + 8]) << 24) | (b[i + 9] << 16) | (b[i + 10] << 8) | b[i + 11];
                break;
            }
        }
        double seconds = double(frames) * mpa.h.samplesPerFrame / mpa.h.sampleRate;
        r.playTime = int(seconds + 0.5);
        if (seconds > 0) r.audioBitRate = int(double(r.fileLen - r.begin) * 8 / seconds);
        r.allBitRate = r.audioBitRate;
        return 0;
    }
    if (form == 5) {
        r.mainStream = 3;
        r.audioMode = 1;
        r.streamCount = 1;
        r.begin = int64_t(esStart) + ac3At;
        r.ac3Rate = float(ac3.rate);
        r.ac3BitRate = ac3.bitRate;
        r.ac3Channels = ac3.channels;
        int64_t frames = (r.fileLen - r.begin) / ac3.bytes;
        r.playTime = int((double(frames) * 1536 / ac3.rate) + 0.5);
        r.allBitRate = ac3.bitRate;
        return 0;
    }
    if (form == 3) {
        r.mainStream = 3;
        r.videoMode = 1;
        r.streamCount = 1;
        findSequenceHeader(b, n, r);
        if (r.videoBitRate > 0) r.playTime = int(r.fileLen * 8 / r.videoBitRate);
        return 0;
    }

    StreamScan hs, tsScan;
    int videoPid = -1;
    int64_t tailAt = r.fileLen > int64_t(kHeadBytes) ? r.fileLen - int64_t(kTailBytes) : -1;
    std::vector<uint8_t> tail;
    if (tailAt > 0) {
        if (form == 0) tailAt -= tailAt % int64_t(stride); // the packet grid of an aligned file
        tail = f.region(tailAt, kTailBytes);
    }
    if (form == 0) {
        scanTsTables(b, n, size_t(ts), stride, hs, videoPid);
        scanTs(b, n, size_t(ts), stride, 0, hs, true);
        r.mainStream = 0;
        r.videoPid = videoPid;
        r.audioPid = hs.audioId;
        if (!tail.empty()) {
            tsScan.audioId = hs.audioId;
            tsScan.pmtDone = true;
            size_t tailStride = stride;
            int64_t k = findTs(tail.data(), std::min<size_t>(tail.size(), 204 * 6), tailStride);
            scanTs(tail.data(), tail.size(), size_t(std::max<int64_t>(k, 0)), stride, tailAt,
                   tsScan, false);
        }
    } else {
        scanPs(b, n, 0, hs, true);
        r.mainStream = hs.packs || cdxa ? 1 : 2;
        r.audioPid = hs.audioId;
        if (!tail.empty()) {
            tsScan.audioId = hs.audioId;
            scanPs(tail.data(), tail.size(), tailAt, tsScan, false);
        }
        if (!hs.videoData.empty()) findSequenceHeader(hs.videoData.data(), hs.videoData.size(), r);
    }
    r.videoMode = hs.video ? 1 : 0;
    r.streamCount = hs.count;
    r.begin = std::max<int64_t>(0, hs.firstAudioOffset);
    finishAudio(r, hs);
    finishPts(r, hs, tsScan);
    if (r.playTime > 0) r.allBitRate = r.fileLen * 8 / r.playTime;
    return 0;
}

} // namespace mxscan
