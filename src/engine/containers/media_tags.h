// The common tags of a media file: title, artist, album, album artist,
// track/total, disc/total, year, genre, comment and a cover picture.
//
// Sources: ID3v2.2/2.3/2.4 at the start and ID3v1/1.1 at the end of MPEG
// audio files (ID3v2 values win, ID3v1 fills what is missing); the `ilst`
// atom of MP4/M4A/3GP/MOV files; for ASF, RealMedia, AVI, WAV, FLV, Matroska
// and Ogg, what libavformat reads from the container. Texts are UTF-8. No
// size, offset or count from the file is trusted: a frame or atom that does
// not fit is skipped, and a tag that lies about its size gives no tags.
//
// Legacy Chinese tags: many programs wrote GBK bytes into ID3 texts marked
// ISO-8859-1 (and into ID3v1). With TagCharset::Auto the Latin-1 texts of one
// tag are read as GB18030 together when
//   - every one of them is well-formed GB18030, and
//   - more than half of their characters outside ASCII are two-byte
//     characters with both bytes in 0xA1..0xFE (the GB2312 area, which holds
//     the common Chinese characters), and
//   - the bytes above 0x7F do not all stand alone between ASCII bytes (as the
//     accented letters of European names do: "Sigur Rós", "Beyoncé").
// Otherwise they are Latin-1. TagCharset::Latin1 and ::Gb18030 force the
// reading.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel {

enum class TagCharset { Auto, Latin1, Gb18030 };

struct MediaTags {
    std::string title, artist, album, albumArtist, year, genre, comment;
    int track = 0, trackTotal = 0, disc = 0, discTotal = 0;
    std::vector<uint8_t> cover;
    std::string coverMime; // "image/jpeg", "image/png" (or what the tag says)

    bool empty() const;
    // Fills each field that is empty here from `other`.
    void fillFrom(const MediaTags& other);
};

// The tags of `path`; empty tags when it has none or cannot be read.
MediaTags readMediaTags(const std::string& path, TagCharset charset = TagCharset::Auto);

// Parsers of one tag held in memory (they return false when `bytes` holds no
// such tag, or one that does not fit).
bool parseId3v2(const uint8_t* bytes, size_t size, TagCharset charset, MediaTags& out);
bool parseId3v1(const uint8_t* bytes, size_t size, TagCharset charset, MediaTags& out);
// `moov` is the payload of an MP4 file's `moov` atom.
bool parseMp4Ilst(const uint8_t* moov, size_t size, MediaTags& out);

// The charset the rule above gives for these Latin-1 texts.
TagCharset guessLegacyCharset(const std::vector<std::string>& texts);
// Latin-1 or GB18030 bytes as UTF-8.
std::string legacyToUtf8(const std::string& bytes, TagCharset charset);

// The tags all of `list` share (title, artist, album, album artist, year,
// genre): what a joined output carries. No track or disc number, no cover
// unless all have the same.
MediaTags sharedTags(const std::vector<MediaTags>& list);

// The keys of --tag KEY=VALUE: title, artist, album, album_artist, track
// ("3" or "3/12"), disc, year (or date), genre, comment. False for an unknown
// key.
bool setTagField(MediaTags& tags, const std::string& key, const std::string& value);
// The field of a key setTagField knows, as text ("" when empty).
std::string tagField(const MediaTags& tags, const std::string& key);

// The ID3v1 genre name of `index`, or "" past the table.
const char* id3v1Genre(int index);

} // namespace kestrel
