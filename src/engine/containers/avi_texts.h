// Error codes of the AVI code family and their texts: the AVI writer of the
// conversion engine and the AVI reader of the MPEG-4 AVI route share them.
#pragma once

namespace kestrel {

enum AviError : int {
    kAviNoError = 0,
    kAviSizeLimit = 1,
    kAviOpen = 2,
    kAviRead = 3,
    kAviWrite = 4,
    kAviWriteIndex = 5,
    kAviClose = 6,
    kAviNotPermitted = 7,
    kAviNoMemory = 8,
    kAviNotAvi = 9,
    kAviNoHeaderList = 10,
    kAviNoMovi = 11,
    kAviNoVideo = 12,
};

namespace text {

inline constexpr const char* kAviErrors[] = {
    "avilib - No Error",
    "avilib - AVI file size limit reached",
    "avilib - Error opening AVI file",
    "avilib - Error reading from AVI file",
    "avilib - Error writing to AVI file",
    "avilib - Error writing index (file may still be useable)",
    "avilib - Error closing AVI file",
    "avilib - Operation (read/write) not permitted",
    "avilib - Out of memory (malloc failed)",
    "avilib - Not an AVI file",
    "avilib - AVI file has no header list (corrupted?)",
    "avilib - AVI file has no MOVI list (corrupted?)",
    "avilib - AVI file has no video data",
};

} // namespace text

// The text of an error code; codes outside the table read as "no error".
inline const char* aviErrorText(int code) {
    constexpr int n = static_cast<int>(sizeof text::kAviErrors / sizeof text::kAviErrors[0]);
    return code >= 0 && code < n ? text::kAviErrors[code] : text::kAviErrors[0];
}

} // namespace kestrel
