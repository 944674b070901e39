// English twins of the run-time libraries' texts (see localize.h).
#pragma once

#include "cli/localize.h"
#include "engine/libraries/texts.h"

namespace kestrel::cli {

inline constexpr TextTwin kLibrariesTwins[] = {
    {kestrel::text::kLoadLibraryFailed, "cannot load the library %s"},
    {kestrel::text::kExportMissing, "the function %s is missing; check the library's version"},
    {kestrel::text::kEffectsExportMissing,
     "the %s function %s is missing; check the library's version"},
    {kestrel::text::kAc3LoadFailed, "cannot load AC3STREAM.SO"},
    {kestrel::text::kAc3ExportMissing, "the AC-3 library's call %s failed"},
    {kestrel::text::kPlayerLoadFailed, "cannot load %s"},
    {kestrel::text::kPlayerExportMissing, "%s: cannot load its function %s"},
};

} // namespace kestrel::cli
