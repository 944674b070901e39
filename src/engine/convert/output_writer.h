// The writers the PCM stage calls for each output type: WAV (and the WMA
// intermediate) appended by the WAV writer, MP3 encoded into the file.
#pragma once

#include "engine/convert/mp3_encoding.h"
#include "engine/convert/wav_writer.h"
#include "engine/pipeline/pcm_stage.h"

namespace kestrel {

// What the writers keep for one output: its WAV count and its MP3 encoder.
struct OutputWriterState {
    WavWriter wav;
    Mp3EncoderState mp3;
};

// Writes one block of PCM into `out` by its type (a PcmWriteFn, see
// pcm_stage.h). Types without a writer of their own take the block without
// writing it. The first failed write shows its message with the system's
// reason, records its errno in `out.writeError` and returns -1.
int write_output_block(PcmOutput& out, const uint8_t* block, int len);

// Installs write_output_block as the writer of `out`, keeping its state in
// `state` (which must outlive the output).
inline void attach_output_writer(PcmOutput& out, OutputWriterState& state) {
    out.write = write_output_block;
    out.writerState = &state;
}

} // namespace kestrel
