// Windows Media audio writing on FFmpeg's WMA encoders and ASF muxer.
//
// The codec enumeration is a fixed table: codec 0 "Windows Media Audio V2"
// (FFmpeg's wmav2), codec 1 "Windows Media Audio V1" (wmav1), each with the
// constant-bit-rate formats it is offered with. There is no variable-bit-rate
// WMA encoder: the VBR enumeration passes are empty, and a stored format value
// of kWmaVbrOffset or more is read as the constant format with the same index
// (value mod kWmaVbrOffset).
//
// WmWriter takes the steps of a Windows Media writer in their order: a
// profile (codec and format), the source's wave format, the output name, then
// BeginWriting, WriteSample per block and EndWriting. Every step returns 0 or
// a negative FFmpeg error code (the step's "hr"). The encoder resamples the
// source to the format's rate and channel count, as the runtime's writer does.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

struct AVFormatContext;
struct AVPacket;
struct AVStream;
struct SwrContext;

namespace orvo {
class AvSegments;
}

namespace kestrel {

inline constexpr int kWmaVbrOffset = 5000;

struct WmaFormat {
    int bitRate;    // bit/s
    int sampleRate; // Hz
    int channels;   // 1 or 2
};

struct WmaCodec {
    const char* name;    // as the settings page lists it
    const char* encoder; // FFmpeg's encoder
    std::span<const WmaFormat> formats;
};

// The codecs in enumeration order.
std::span<const WmaCodec> wmaCodecs();
// "128 kbps, 44 kHz, stereo CBR".
std::string describeWmaFormat(const WmaFormat& f);

// One item of a codec's format list: its description and its stored value.
struct WmaFormatItem {
    std::string description;
    int value;
};
// The list the settings page shows for `codec`: the constant pass (value =
// index), then the one-pass and two-pass VBR passes (value = index + 5000 ×
// passes), which are empty. Empty for an unknown codec.
std::vector<WmaFormatItem> wmaFormatList(int codec);
// The format a stored value selects for `codec`; null when there is none.
const WmaFormat* wmaFormatOf(int codec, int formatValue);

// The profile a writer encodes with.
struct WmProfile {
    int codec = -1;
    WmaFormat format{};
    int bufferWindowMs = 3000;
    bool valid() const { return codec >= 0; }
};

class WmWriter {
  public:
    WmWriter();
    ~WmWriter();
    WmWriter(const WmWriter&) = delete;
    WmWriter& operator=(const WmWriter&) = delete;

    int setProfile(const WmProfile& profile);
    // The wave format of the samples that WriteSample gets (16-bit PCM).
    int setInputProps(int sampleRate, int channels);
    int setOutputFilename(const std::string& path);
    // Key/value pairs the file's content descriptions carry (FFmpeg's
    // generic keys: "title", "artist", "album", "track", "date", ...).
    void setMetadata(std::vector<std::pair<std::string, std::string>> pairs) {
        metadata_ = std::move(pairs);
    }
    // Encodes on `threads` threads at once (segment-parallel encoding, see
    // common/av_segments.h) when above 1; set before beginWriting. 1 by default.
    void setThreads(int threads) { threads_ = threads; }
    // Opens the file and writes the header. AVERROR_ENCODER_NOT_FOUND when the
    // codec is missing, AVERROR(EINVAL) when it refuses the format.
    int beginWriting();
    // Interleaved 16-bit samples, `frames` per channel.
    int writeSample(const int16_t* pcm, int frames);
    // Encodes what is left and finishes the file.
    int endWriting();
    // Closes and removes a file that was begun but not ended.
    void abandon();

  private:
    int encodePending(bool last);
    int drain();
    int writePacket(AVPacket* pkt);

    WmProfile profile_;
    int inRate_ = 0, inChannels_ = 0;
    std::string path_;
    std::vector<std::pair<std::string, std::string>> metadata_;
    AVFormatContext* fmt_ = nullptr;
    AVStream* stream_ = nullptr;
    struct Codec;
    Codec* codec_ = nullptr;
    SwrContext* swr_ = nullptr;
    std::vector<float> pending_[2]; // resampled, planar, not yet encoded
    int64_t pts_ = 0;
    bool begun_ = false;
    int threads_ = 1;
    std::unique_ptr<orvo::AvSegments> segments_;
};

} // namespace kestrel
