// Layer III decoding (ISO/IEC 11172-3 2.4.3.4, ISO/IEC 13818-3 2.4.3.4): side
// information, scale factors, Huffman decoding, requantisation, stereo
// processing, reordering, alias reduction, IMDCT and synthesis of one frame.
#pragma once

#include "engine/core/mpeg_audio_header.h"
#include "engine/decode/mpa_synth.h"

#include <cstdint>

namespace kestrel::mpa {

struct GranuleInfo {
    int part23Length = 0;
    int bigValues = 0;
    int globalGain = 0;
    int scalefacCompress = 0;
    int windowSwitching = 0;
    int blockType = 0;
    int mixedBlock = 0;
    int tableSelect[3] = {0, 0, 0};
    int subblockGain[3] = {0, 0, 0};
    int region0Count = 0;
    int region1Count = 0;
    int preflag = 0;
    int scalefacScale = 0;
    int count1Table = 0;
    // derived: the first lines of regions 1 and 2
    int region1Start = 0;
    int region2Start = 0;
};

struct SideInfo {
    int mainDataBegin = 0;
    int privateBits = 0;
    int scfsi[2][4] = {};
    GranuleInfo gr[2][2]; // [granule][channel]
};

inline constexpr int kReservoirBytes = 2048;

struct Layer3State {
    uint8_t reservoir[kReservoirBytes + 8];
    int reservoirLen;
    alignas(32) float overlap[2][18][32]; // [channel][time slot][sub-band]
    SynthState synth;
};

struct Layer3Result {
    bool crcError = false;
    bool lackedMainData = false;
};

void resetLayer3(Layer3State& s);

// Reads the side information at byte `offset` of `frame`; false when it is
// not usable (window switching with block type 0).
bool readSideInfo(const MpegAudioHeader& h, const uint8_t* frame, int frameBytes, SideInfo& si);

// Decodes one Layer III frame (`frame` holds frameBytes bytes starting with
// the header) into `out`: (samplesPerFrame >> step) samples per channel,
// interleaved, one channel when `mono` is set or the stream is single
// channel. Always produces PCM: a damaged frame comes out as silence.
Layer3Result decodeLayer3(Layer3State& s, const MpegAudioHeader& h, const uint8_t* frame,
                          int frameBytes, int step, bool mono, int16_t* out);

} // namespace kestrel::mpa
