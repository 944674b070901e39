// The writers the PCM stage calls for each output type: WAV (and the WMA
// intermediate) appended by the WAV writer, MP3 encoded into the file, into
// FLV audio tags or into AVI audio chunks.
#pragma once

#include "engine/convert/avi_output.h"
#include "engine/convert/exe_output.h"
#include "engine/convert/flv_output.h"
#include "engine/convert/mp3_encoding.h"
#include "engine/convert/wav_writer.h"
#include "engine/pipeline/pcm_stage.h"

namespace kestrel {

// What the writers keep for one output: its WAV count, its MP3 encoder and
// the state of its container (FLV, AVI, or an EXE output's masking).
struct OutputWriterState {
    WavWriter wav;
    Mp3EncoderState mp3;
    FlvOutput flv;
    AviOutput avi;
    ExeOutputState exe;
};

// Writes one block of PCM into `out` by its type (a PcmWriteFn, see
// pcm_stage.h). Types without a writer of their own take the block without
// writing it. The first failed write shows its message with the system's
// reason, records its errno in `out.writeError` and returns -1.
//
// MP3 blocks go to the encoder thread while it is enabled (encoder_queue.h):
// a write failure it meets is reported on the next block, or by
// settle_output() when no block follows. WAV blocks are gathered into runs
// (WavWriter): a run that fails is reported on the block that wrote it, or by
// settle_output() for the last one, and its held blocks count in
// `out.pcmBytes` only as far as they reached the file.
int writeOutputBlock(PcmOutput& out, const uint8_t* block, int len);

// Waits until every block handed to `out` is encoded and written (a WAV's
// held blocks are written); the encoder and the stream are then the caller's
// again. A write failure found meanwhile
// is recorded and shown as writeOutputBlock does, and the blocks that were
// not written are taken back out of `out.pcmBytes`. Returns 0, or -1 when a
// write to `out` has failed. Called at the end of each entry and before an
// output is finished.
int settle_output(PcmOutput& out);

// Installs writeOutputBlock as the writer of `out`, keeping its state in
// `state` (which must outlive the output).
inline void attachOutputWriter(PcmOutput& out, OutputWriterState& state) {
    out.write = writeOutputBlock;
    out.writerState = &state;
}

} // namespace kestrel
