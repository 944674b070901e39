// The probe's parser, separate from the exports so that it can be tested and
// fuzzed on its own.
#pragma once

#include <cstdint>
#include <string>

namespace mxscan {

struct ProbeResult {
    int mainStream = 999;
    int audioMode = -99;
    int videoMode = 0;
    int streamCount = 0;
    int playTime = 0;
    int64_t fileLen = 0;
    int64_t begin = 0;
    int64_t minPts = -1, maxPts = -1; // 90 kHz units
    int videoPid = 0, audioPid = 0;
    int64_t allBitRate = 0;
    // MPEG audio
    int audioBitRate = 0;
    double sampleRate = 0;
    int channels = 0;
    int layer = 0;
    int version = 0;
    // AC-3
    float ac3Rate = 0;
    int ac3BitRate = 0;
    int ac3Channels = 0;
    // MPEG video
    int width = 0, height = 0, videoBitRate = 0;
    double frameRate = 0;
    // MPEG-4 AVI
    uint8_t mpeg4Video[80] = {};
    uint8_t mpeg4Audio[64] = {};
    int videoIndexCount = 0, audioIndexCount = 0;
};

// 0 on success (whatever the form), -1 when the file cannot be opened.
int probeFile(const std::string& path, ProbeResult& r);

} // namespace mxscan
