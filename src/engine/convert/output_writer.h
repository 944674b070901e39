// The writers the PCM stage calls for each output type: WAV (and the WMA
// intermediate) appended by the WAV writer, MP3 encoded into the file.
#pragma once

#include "engine/pipeline/pcm_stage.h"

namespace kestrel {

// Writes one block of PCM into `out` by its type (a PcmWriteFn, see
// pcm_stage.h). Types without a writer of their own take the block without
// writing it. The first failed write shows its message with the system's
// reason, records its errno in `out.writeError` and returns -1.
int write_output_block(PcmOutput& out, const uint8_t* block, int len);

// Installs write_output_block as the writer of `out`.
inline void attach_output_writer(PcmOutput& out) {
    out.write = write_output_block;
}

} // namespace kestrel
