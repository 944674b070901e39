// English twins of the media catalogue's texts (see localize.h).
#pragma once

#include "cli/localize.h"
#include "engine/catalogue/texts.h"
#include "engine/catalogue/texts_flash.h"
#include "engine/catalogue/texts_graph.h"

namespace kestrel::cli {

inline constexpr TextTwin kCatalogueTwins[] = {
    {kestrel::text::kColumnHeaders[0], "serial"},
    {kestrel::text::kColumnHeaders[1], "file name"},
    {kestrel::text::kColumnHeaders[2], "size"},
    {kestrel::text::kColumnHeaders[3], "type"},
    {kestrel::text::kColumnHeaders[4], "time"},
    {kestrel::text::kColumnHeaders[5], "rate"},
    {kestrel::text::kColumnHeaders[6], "channels"},
    {kestrel::text::kColumnHeaders[7], "other"},
    {kestrel::text::kAlreadyListed, "the media file is already in the list"},
    {kestrel::text::kNothingToDelete, "no media file record is selected for deletion"},
    {kestrel::text::kOpticalDriveFile,
     "do not choose files of an optical drive: they are added by themselves"},
    {kestrel::text::kListFull,
     "the media list is full (128 records at most): delete records not needed first"},
    {kestrel::text::kListSaveFailed, "saving the media list %s failed; the old list file is kept"},
    {kestrel::text::kListNotRegular,
     "the media list %s is not a regular file (%s): the list cannot be read and is not saved"},
    {kestrel::text::kListDamaged,
     "the media list %s is damaged (%s): %s whole records kept, %s damaged records dropped; "
     "the damaged file is copied to %s before the list is next saved"},
    {kestrel::text::kListCountWrong,
     "the record count %s does not match the %s records in the file"},
    {kestrel::text::kListTailCut, "the last %s bytes are no whole record"},
    {kestrel::text::kListPathUnended, "the path of record %s has no terminating NUL"},
    {kestrel::text::kListTooShort, "the file holds only %s bytes"},
    {kestrel::text::kPathTooLong,
     "%s: the path is longer than 511 bytes and cannot be kept in the list; "
     "move the file to a folder with a shorter path and add it again"},
    {kestrel::text::kOpenMediaFailed, "%s: cannot open the media file"},
    {kestrel::text::kUndeterminedType, "%s: the file type cannot be determined"},
    {kestrel::text::kNoAudioInfo, "%s: no audio information"},
    {kestrel::text::kMpeg4Bad, "%s: the MPEG-4 analysis failed"},
    {kestrel::text::kNoAudioMedia, "%s: a media file without audio"},
    {kestrel::text::kNoAudioFormat, "%s: a media file without an audio format"},
    {kestrel::text::kSourceIsDirectory, "%s: is a folder (directory), not a media file"},
    {kestrel::text::kSourceIsFifo,
     "%s: is a named pipe (FIFO), not a media file (read standard input with -)"},
    {kestrel::text::kSourceIsCharDevice, "%s: is a character device, not a media file"},
    {kestrel::text::kSourceIsBlockDevice, "%s: is a block device, not a media file"},
    {kestrel::text::kSourceIsSocket, "%s: is a socket, not a media file"},
    {kestrel::text::kSourceIsOther, "%s: is not a regular file, not a media file"},
    {kestrel::text::kSourceEmpty, "%s: is empty (0 bytes): no media data"},
    {kestrel::text::kNotAac, "%s: not an AAC file"},
    {kestrel::text::kNotRingTone, "%s: not a ring-tone (AMR) file"},
    {kestrel::text::kNoAudioCoding, "%s: no audio coding found"},
    {kestrel::text::kNoAvCoding, "%s: no audio or video coding found"},
    {kestrel::text::kAnalysisError, "%s: analysis error"},
    {kestrel::text::kNotFlv, "%s: not a FLASH FLV file"},
    {kestrel::text::kFlv8Bit, "%s: 8-bit FLV audio is not supported yet"},
    {kestrel::text::kSwfCompressed, "compressed FLASH files are not supported yet"},
    {kestrel::text::kNotSwf, "%s: not a FLASH SWF file"},
    {kestrel::text::kSwfDamaged, "%s: the data of the compressed FLASH file is damaged"},
    {kestrel::text::kGraphNoAudio, "%s: no audio information, cannot convert"},
    {kestrel::text::kRealDecoderMissing,
     "%s: no decoder for it is installed (a Real Play decoder is needed)"},
    {kestrel::text::kQuickTimeDecoderMissing,
     "%s: no decoder for it is installed (a QuickTime decoder is needed)"},
    // Last: it would split any text with the sign in it.
    {kestrel::text::kListProblemsJoined, "%s; %s"},
};

} // namespace kestrel::cli
