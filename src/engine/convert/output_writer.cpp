#include "engine/convert/output_writer.h"

#include "engine/convert/encoder_queue.h"
#include "engine/convert/library_outputs.h"
#include "engine/convert/mp3_encoding.h"
#include "engine/convert/output_naming.h"
#include "engine/convert/texts.h"
#include "engine/convert/wav_writer.h"
#include "engine/core/captions.h"
#include "engine/core/text_format.h"
#include "engine/settings/settings.h"
#include "platform/ports.h"

#include <cerrno>

namespace kestrel {

namespace {

// Disk full or the like, or an encoder that failed (kEncoderFailed): the
// output takes nothing more; what was written stays.
int failWrite(PcmOutput& out, int err) {
    out.writeError = err ? err : EIO;
    if (err == kEncoderFailed)
        showMessage(caption::kMain, formatText(text::kMp3EncodeFailed, out.name));
    else
        showMessage(caption::kMain, formatText(text::kOutputWriteFailed, out.name,
                                               writeFailureReason(out.writeError)));
    return -1;
}

// The error a failed MP3 or container writer leaves.
int writerError(const Mp3EncoderState& mp3) {
    return mp3.encodeFailed ? kEncoderFailed : errno;
}

// A run of held WAV blocks did not reach the file whole: the held bytes that
// did not reach it no longer count as passed to the output (the block being
// appended was not taken), as on a stream that wrote every block at once.
int failHeldRun(PcmOutput& out, WavWriter& wav, int err) {
    const uint64_t lost = wav.takeUnwritten();
    out.pcmBytes -= lost < out.pcmBytes ? lost : out.pcmBytes;
    return failWrite(out, err);
}

// A run of MP3 frames did not reach the file whole: the blocks whose frames
// it held no longer count as passed to the output (`pending` of them, the
// block being written, was not counted yet).
int failMp3Run(PcmOutput& out, const Mp3EncoderState& mp3, uint64_t pending) {
    const uint64_t counted = mp3.lostPcm > pending ? mp3.lostPcm - pending : 0;
    out.pcmBytes -= counted < out.pcmBytes ? counted : out.pcmBytes;
    return failWrite(out, mp3.writeErrno);
}

} // namespace

int writeOutputBlock(PcmOutput& out, const uint8_t* block, int len) {
    auto& state = *static_cast<OutputWriterState*>(out.writerState);
    errno = 0;
    switch (out.type) {
    case kOutWav:
    case kOutWma:
        state.wav.append(out.stream, block, static_cast<size_t>(len), outputFormat.out_channels,
                         out.name);
        if (out.stream && std::ferror(out.stream)) return failHeldRun(out, state.wav, errno);
        return 0;
    case kOutMp3:
        if (encoder_thread_enabled()) {
            // The encoder thread owns the stream now: a failure it met is
            // reported here, on the block after it.
            EncoderQueue& q = encoderQueue();
            if (q.push(state.mp3, block, len) < 0) return failWrite(out, q.failure());
            return 0;
        }
        if (mp3EncodeBlock(state.mp3, block, len, mp3WriteToFile, &state.mp3) < 0)
            return failWrite(out, kEncoderFailed);
        if (state.mp3.writeFailed) return failMp3Run(out, state.mp3, static_cast<uint64_t>(len));
        return 0;
    case kOutFlv:
        if (flvOutputBlock(state.flv, state.mp3, block, len) < 0)
            return failWrite(out, writerError(state.mp3));
        return 0;
    case kOutAvi:
        if (aviOutputBlock(state.avi, state.mp3, block, len) < 0)
            return failWrite(out, writerError(state.mp3));
        return 0;
    case kOutRawAac:
    case kOutAdts:
    case kOutM4a:
    case kOutAmr:
        if (encodeLibraryOutput(out.type, block, len) < 0) return failWrite(out, errno);
        return 0;
    case kOutExe:
        if (mp3EncodeBlock(state.mp3, block, len, exeWriteFrames, &state.exe) < 0)
            return failWrite(out, kEncoderFailed);
        if (state.exe.writeFailed) errno = state.exe.writeErrno;
        break;
    default:
        break;
    }
    if (out.stream && std::ferror(out.stream)) return failWrite(out, errno);
    return 0;
}

int settle_output(PcmOutput& out) {
    if ((out.type == kOutWav || out.type == kOutWma) && out.writerState && out.stream) {
        WavWriter& wav = static_cast<OutputWriterState*>(out.writerState)->wav;
        errno = 0;
        wav.flush(out.stream);
        if (std::ferror(out.stream) && !out.writeError) return failHeldRun(out, wav, errno);
        wav.takeUnwritten();
        return out.writeError ? -1 : 0;
    }
    EncoderQueue::Drained d = encoderQueue().drain();
    // Blocks taken but never written count as not passed to the encoder, as
    // on the one-thread path, where the failed block is the last one written.
    out.pcmBytes -= d.notEncoded < out.pcmBytes ? d.notEncoded : out.pcmBytes;
    if (d.failure && !out.writeError) failWrite(out, d.failure);
    if (out.type == kOutMp3 && out.writerState && !out.writeError) {
        // The frames of the entry's last blocks go to the file now, so that
        // a failure is found with the entry that wrote them.
        Mp3EncoderState& mp3 = static_cast<OutputWriterState*>(out.writerState)->mp3;
        if (mp3WriteRun(mp3) < 0) failMp3Run(out, mp3, 0);
    }
    return out.writeError ? -1 : 0;
}

} // namespace kestrel
