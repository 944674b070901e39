// The reading loops of the sources whose containers or codecs are read
// through the run-time libraries: AMR ring tones (AMR decoder), raw ADTS/ADIF
// AAC files (the AAC decoder's file form) and the sound track of MP4, 3GP and
// M4A files (MP4 library; AMR narrow-band, AAC or MPEG audio through the
// libraries, AMR wide-band through FFmpeg's decoder). Shared by the playback
// threads and the conversion driver; each loop polls its run flags once per
// unit and hands the PCM to its sink.
//
// The libraries each loop needs must be loaded by the caller (the AMR
// decoder; the AAC decoder; for MP4 both and the MPEG audio library); the MP4
// library is loaded by the loop itself.
#pragma once

#include "engine/pipeline/mpeg_readers.h"

namespace kestrel {

// A sink that learns the format the decoder really gives before the first
// PCM arrives (an ADIF header states no channel count; a decoder may report
// another rate than the container).
class FormatSinkPath : public PcmSinkPath {};

// The window's workers' path into pcm_sink: when the decoder's format differs
// from the entry's, the PCM change is set up again for it.
class StageFormatSink : public FormatSinkPath {
  public:
    StageFormatSink(PcmOutput* out, double ratio, int sourceRate, int sourceChannels)
        : out_(out), ratio_(ratio), rate_(sourceRate), channels_(sourceChannels) {}
    void consume(PcmBuffer& pcm) override;
    bool failed() const override;
    void sourceFormat(int rate, int channels) override;
    // The rate ratio the PCM change works with now.
    double ratio() const { return ratio_; }

  private:
    PcmOutput* out_;
    double ratio_;
    int rate_;
    int channels_;
    bool changeFailed_ = false;
};

// AMR ring tone: frames after the magic, 2 frames (640 bytes of PCM) per sink
// call; no seeking (a request is dropped). Position: bytes read.
ReaderResult readAmrFile(const ReaderEntry& e, RunFlags flags, PcmBuffer& pcm, FormatSinkPath& sink,
                         PositionReport report, void* context);
// Raw AAC: the AAC library decodes the file frame by frame; no seeking.
// Position: the library's progress in thousandths. A file it finds no stream
// in gives no PCM.
ReaderResult readAacFile(const ReaderEntry& e, RunFlags flags, PcmBuffer& pcm, FormatSinkPath& sink,
                         PositionReport report, void* context);
// MP4 family: one sample of the audio track per pass; seeks go to the
// proportional sample. Position: the sample's time stamp.
ReaderResult readMp4Audio(const ReaderEntry& e, RunFlags flags, PcmBuffer& pcm,
                          FormatSinkPath& sink, PositionReport report, void* context);

// The sample a seek to `second` of a track of `count` samples and
// `durationSec` seconds goes to.
int proportionalIndex(int second, int durationSec, int count);

} // namespace kestrel
