// The bit-reservoir facts of a Layer III frame's side information (ISO/IEC
// 11172-3 2.4.1.7, ISO/IEC 13818-3 2.4.1.7): where its main data begins
// (main_data_begin, counted back from the end of its side information), how
// many bits it takes, and the block type of each granule and channel. The
// encoder's segment joins and the stream check below read frames through it;
// like the header module it depends on nothing but the standard library.
#pragma once

#include "engine/core/mpeg_audio_header.h"

#include <cstddef>
#include <cstdint>

namespace kestrel {

struct Mp3ReservoirFacts {
    int mainDataBegin = 0; // bytes of main data before this frame's own area
    int mainDataBits = 0;  // part2_3_length over every granule and channel
    int areaOffset = 0;    // where the main-data area starts in the frame (header, CRC, side info)
    int areaBytes = 0;     // the frame's main-data area: frame length less areaOffset
    int granules = 0;      // 2 for MPEG-1, 1 for MPEG-2 and 2.5
    int channels = 0;
    int blockType[2][2] = {{0, 0}, {0, 0}}; // [granule][channel], 0 for a long block
};

// Reads the frame at `p` (`avail` bytes from it); false when it is no whole
// Layer III frame of a known length.
bool readMp3Reservoir(const uint8_t* p, size_t avail, Mp3ReservoirFacts& out);

// Whether the window of granule `a` (its second half) may be followed by
// granule `b` (its first half) in the overlap-add: a long or stop block ends
// long and must be followed by a long or start block; a start or short
// block ends short and must be followed by a short or stop block.
inline bool mp3WindowsJoin(int a, int b) {
    const bool endsLong = a == 0 || a == 3;
    const bool startsLong = b == 0 || b == 1;
    return endsLong == startsLong;
}

// Checks every frame of a Layer III stream of whole frames back to back: the
// main data of each frame must begin neither before the stream (the tag frame
// at its start, if any, offers no bytes) nor inside the main data of the
// frames before it, and must end within the frame's own area. Returns -1 when
// every frame passes, else the index of the first frame that does not (or of
// the bytes that are no frame).
long checkMp3Reservoir(const uint8_t* stream, size_t size);

} // namespace kestrel
