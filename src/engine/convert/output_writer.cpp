#include "engine/convert/output_writer.h"

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

int write_output_block(PcmOutput& out, const uint8_t* block, int len) {
    auto& state = *static_cast<OutputWriterState*>(out.writerState);
    errno = 0;
    switch (out.type) {
    case kOutWav:
    case kOutWma:
        state.wav.append(out.stream, block, static_cast<size_t>(len), outputFormat.out_channels,
                         out.name);
        break;
    case kOutMp3:
        mp3_encode_block(state.mp3, block, len, mp3_write_to_file, &state.mp3);
        if (state.mp3.writeFailed) errno = state.mp3.writeErrno;
        break;
    default:
        break;
    }
    if (std::ferror(out.stream)) {
        // Disk full or the like: stop here; what was written stays.
        out.writeError = errno ? errno : EIO;
        showMessage(caption::kMain, formatText(text::kOutputWriteFailed, out.name,
                                               writeFailureReason(out.writeError)));
        return -1;
    }
    return 0;
}

} // namespace kestrel
