// The error codes of the AVI code family (the output writer and the reader)
// and the text of each, for callers that print them.
#pragma once

namespace kestrel {

enum AviError : int {
    kAviErrNoError = 0,
    kAviErrSizeLimit = 1,
    kAviErrOpen = 2,
    kAviErrRead = 3,
    kAviErrWrite = 4,
    kAviErrWriteIndex = 5,
    kAviErrClose = 6,
    kAviErrNotPermitted = 7,
    kAviErrNoMemory = 8,
    kAviErrNotAvi = 9,
    kAviErrNoHeaderList = 10,
    kAviErrNoMoviList = 11,
    kAviErrNoVideo = 12,
};

inline constexpr const char* kAviErrTexts[] = {
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

inline constexpr int kAviErrCount = sizeof kAviErrTexts / sizeof kAviErrTexts[0];

// The text of `code`; a code outside the table reads as an unknown error.
inline const char* aviErrorText(int code) {
    return code >= 0 && code < kAviErrCount ? kAviErrTexts[code] : "avilib - Unknown error";
}

} // namespace kestrel
