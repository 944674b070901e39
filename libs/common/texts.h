// The texts of the code the run-time libraries share.
#pragma once

namespace orvo::text {

// program, library set, reason
inline constexpr const char* kLibraryNotLoaded = "%s: 无法加载%s：%s\n";

} // namespace orvo::text
