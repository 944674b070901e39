// MP3 encoding of the PCM stage's blocks through the mp3enc library.
//
// One encoder serves one output: it is set up when the output opens (per-file
// mode: every entry; joined mode: once for the job, so the joined file stays
// gapless) and flushed when the output is finished, so that no output loses
// its last frames and none receives the tail of another. Every output gets its
// Xing/LAME tag ("Info" at a constant bit rate) written over its first frame
// when it is finished, so players show the right duration and drop the
// encoder's delay and padding.
//
// The state of one encoder is its Mp3EncoderState, owned by the output it
// serves; the mp3enc library itself holds one encoder per process, so one
// conversion job encodes at a time (see ConversionJob).
//
// A silent conversion of an output longer than a minute spreads its encoding
// over the processors (encoder_threads.h): the library cuts the stream into
// segments, encodes them on threads of its own and joins their frames into
// one stream with the same frame count, length and tag values
// (mp3EncoderSpread). Its frames then come in runs of a segment at a time;
// for FLV and AVI outputs, whose tags and chunks carry the frames, the sink
// is then given one frame at a time.
//
// Threading: used by the thread of the job that owns the state, and while an
// MP3 output's blocks are queued by its encoder thread alone
// (encoder_queue.h).
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

namespace kestrel {

struct Mp3EncoderState {
    int32_t samplesPerCall = 0;
    int32_t outBufferSize = 0;
    int32_t inBytes = 0;
    std::vector<uint8_t> inBuffer;
    std::vector<uint8_t> outBuffer;
    bool ready = false;
    // The library refused a block: nothing more is encoded into the output.
    bool encodeFailed = false;
    int threads = 1;     // the encoder's threads (segment-parallel encoding above 1)
    bool tagged = false; // VBR/ABR: the first frame is the tag's placeholder
    // FLV and AVI carry no tag: the placeholder frame is left out.
    bool dropFirstFrame = false;
    long firstFrameAt = -1; // file offset of the first frame written
    // A frame run could not be written whole: nothing more is written, and
    // the file is to be cut back to `wholeEnd`, the end of the last run
    // written whole.
    bool writeFailed = false;
    int writeErrno = 0;
    long wholeEnd = 0;
    FILE* file = nullptr; // the plain MP3 file mp3WriteToFile appends to
    // Where the next run goes: asked of the stream once, then kept, as
    // nothing else writes the file while frames are appended.
    long nextAt = -1;
    // Frames handed to mp3WriteToFile and not written yet (a run), and the
    // PCM bytes of the blocks encoded since the last run reached the file.
    std::vector<uint8_t> run;
    uint64_t runPcm = 0;
    // Where each frame run handed over ends in `run`, with `runPcm` then: a
    // run cut short keeps the whole frames that reached the file.
    struct RunMark {
        size_t end;
        uint64_t pcm;
    };
    std::vector<RunMark> runMarks;
    // After a failed run: the PCM bytes of the blocks whose frames it held
    // (the block being encoded included).
    uint64_t lostPcm = 0;
};

// The failure an output records when its encoder refused a block (in place
// of the errno of a failed write, which is positive).
inline constexpr int kEncoderFailed = -1;

// Sets up the encoder for `outputType` from the settings and the derived
// output format; 0, or negative when the library refused the parameters.
int mp3EncoderSetup(Mp3EncoderState& st, int outputType);

// Spreads the encoding of `st` (set up, not fed yet) over the encoder
// threads (encoderThreadsFor).
// Returns the threads the encoder uses (1: one).
int mp3EncoderSpread(Mp3EncoderState& st, int outputType, int seconds);

// Encodes one block of 16-bit PCM (out_channels interleaved) and hands every
// frame run to `sink`. Returns the MP3 bytes produced, or -1 when the encoder
// is not set up or failed (`encodeFailed` is then set; the rest of the block
// is dropped).
using Mp3FrameSink = void (*)(const uint8_t* bytes, int length, void* context);
int mp3EncodeBlock(Mp3EncoderState& st, const uint8_t* pcm, int length, Mp3FrameSink sink,
                   void* context);

// Flushes the encoder into `sink`; then, when `stream` is a plain MP3 file
// (the sink is mp3WriteToFile), writes the last run and, when all its frames
// were written, the VBR/ABR tag frame over the first frame. Returns the bytes
// flushed.
int mp3EncoderFinish(Mp3EncoderState& st, Mp3FrameSink sink, void* context, FILE* stream);
// Ends the output without flushing: after a failed write the tag would claim
// frames the file does not hold, so the first frame stays the placeholder
// (it decodes as one frame of silence).
void mp3EncoderAbandon(Mp3EncoderState& st);

// The frame sink of a plain MP3 file: the context is the Mp3EncoderState; it
// gathers the frames into runs (output_runs.h) appended to its `file`, and
// remembers where the first frame goes. After a short write it writes nothing
// more (the stream's error flag is set).
void mp3WriteToFile(const uint8_t* bytes, int length, void* context);
// Writes the frames mp3WriteToFile holds. 0, or -1 when the run did not reach
// the file whole: `writeFailed` is set, `wholeEnd` is the end of the last
// whole frame run that reached the file (the file is to be cut back to it)
// and `lostPcm` the PCM of the blocks whose frames are lost. Nothing is
// written after a failed run.
int mp3WriteRun(Mp3EncoderState& st);

} // namespace kestrel
