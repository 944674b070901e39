// Texts of the MPEG audio stream decoder's status codes.
#pragma once

namespace kestrel::text {

inline constexpr const char* kSscSuccess = "(Mp3Ssc) success: no error";
inline constexpr const char* kSscInvalidParam = "(Mp3Ssc) error: at least one parameter is wrong";
inline constexpr const char* kSscNoMemory = "(Mp3Ssc) error: not enough memory";
inline constexpr const char* kSscInvalidHandle = "(Mp3Ssc) error: invalid handle";
inline constexpr const char* kSscIoGeneric = "(Mp3Ssc) error: I/O - generic error";
inline constexpr const char* kSscIoOpen = "(Mp3Ssc) error: I/O - open failed";
inline constexpr const char* kSscIoClose = "(Mp3Ssc) error: I/O - close failed";
inline constexpr const char* kSscIoRead = "(Mp3Ssc) error: I/O - read error";
inline constexpr const char* kSscCrcError = "(Mp3Ssc) info: Decoder - CRC error";
inline constexpr const char* kSscNoMainData =
    "(Mp3Ssc) info: Decoder - not enough main data present";
inline constexpr const char* kSscDecoderGeneric = "(Mp3Ssc) error: Decoder - generic error";
inline constexpr const char* kSscWrongLayer = "(Mp3Ssc) error: Decoder - wrong MPEG layer";
inline constexpr const char* kSscBufferTooSmall = "(Mp3Ssc) error: Decoder - buffer is too small";
inline constexpr const char* kSscSyncSearched = "(Mp3Ssc) warning: Decoder - sync searched";
inline constexpr const char* kSscSyncLost = "(Mp3Ssc) warning: Decoder - sync lost";
inline constexpr const char* kSscSyncNeedData = "(Mp3Ssc) warning: Decoder - sync need data";
inline constexpr const char* kSscSyncEof = "(Mp3Ssc) warning: Decoder - sync eof";
inline constexpr const char* kSscUnknown = "(Mp3Ssc) unknown SSC (0x%.8x)";

// The handle layer's own text for a call with an invalid handle.
inline constexpr const char* kMp3decInvalidHandle = "(mp3dec) error: invalid handle";

} // namespace kestrel::text
