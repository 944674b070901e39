// Writing MediaTags into outputs: an ID3v2.3 tag in front of an MP3's first
// frame, a `LIST` `INFO` chunk after a WAV's data, an `ilst` in an M4A's
// `moov`, and the key/value pairs of the muxers that FFmpeg drives (WMA).
#pragma once

#include "engine/containers/media_tags.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kestrel {

// What the job's outputs carry: the source's tags (or none, `write` off) with
// the user's values over them.
struct TagOptions {
    bool write = true;
    TagCharset charset = TagCharset::Auto;
    std::vector<std::pair<std::string, std::string>> overrides; // key, value
};

// The tags of an output made from `sources` (one: its tags; more: those
// they share; none when `write` is off) with the overrides applied.
MediaTags outputTags(const std::vector<std::string>& sources, const TagOptions& options);

// An ID3v2.3 tag: each text in ISO-8859-1 when it suffices, else in UTF-16
// with a byte order mark; the cover as an APIC front cover. Empty for empty
// tags.
std::vector<uint8_t> id3v23Tag(const MediaTags& tags);

// A `LIST` chunk of type `INFO` (INAM, IART, IPRD, IPRT, ICRD, IGNR, ICMT),
// texts in UTF-8; empty when there is no text.
std::vector<uint8_t> wavInfoChunk(const MediaTags& tags);
// Appends the chunk to the finished WAV file `path` and makes its RIFF size
// cover it. 0, or -1 when the file could not be updated (it is then as it
// was, or has at most a partial chunk past the RIFF size).
int appendWavInfo(const std::string& path, const MediaTags& tags);

// Puts the tags into the finished MP4 file `path` whose `moov` box is its last
// box: a `udta`/`meta`/`ilst` replacing any `udta` it has (an item of the old
// `ilst` that the tags do not set is kept). 0, or -1 when the file is not
// laid out so or could not be written.
int addMp4Tags(const std::string& path, const MediaTags& tags);

// The tags as FFmpeg's generic metadata keys (what its muxers write).
std::vector<std::pair<std::string, std::string>> metadataPairs(const MediaTags& tags);

} // namespace kestrel
