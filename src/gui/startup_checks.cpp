#include "gui/startup_checks.h"

#include "engine/core/captions.h"
#include "engine/libraries/lib_mp3enc.h"
#include "engine/libraries/lib_mxscan.h"
#include "engine/libraries/lib_orvomp4dec.h"
#include "engine/libraries/lib_orvoplay.h"
#include "engine/pipeline/texts_device.h"
#include "platform/ports.h"
#include "platform/wave_out.h"

namespace kestrel::gui {

int checkStart() {
    if (waveOutDeviceCount() == 0) {
        showMessage(caption::kProduct, text::device::kNone);
        return -1;
    }
    if (loadOrvomp4dec() < 0) return -1;
    if (!mxscanLoaded() && loadMxscan() < 0) return -1;
    if (!orvoplayLoaded() && loadOrvoplay() < 0) return -1;
    if (!mp3encLoaded() && loadMp3enc() < 0) return -1;
    return 0;
}

} // namespace kestrel::gui
