#include "engine/containers/swf.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace kestrel {

namespace {

const char* const kTagNames[64] = {
    "End",
    "ShowFrame",
    "DefineShape",
    "FreeCharacter",
    "PlaceObject",
    "RemoveObject",
    "DefineBitsJPEG",
    "DefineButton",
    "JPEGTables",
    "SetBackgroundColor",
    "DefineFont",
    "DefineText",
    "DoAction",
    "DefineFontInfo",
    "DefineSound",
    "StartSound",
    "",
    "DefineButtonSound",
    "SoundStreamHead",
    "SoundStreamBlock",
    "DefineBitsLossless",
    "DefineBitsJPEG2",
    "DefineShape2",
    "DefineButtonCXForm",
    "Protect",
    "",
    "PlaceObject2",
    "",
    "RemoveObject2",
    "",
    "",
    "",
    "DefineShape3",
    "DefineText2",
    "DefineButton2",
    "DefineBitsJPEG3",
    "DefineBitsLossless2",
    "DefineEditText",
    "DefineMovie",
    "DefineSprite",
    "NameCharacter",
    "SerialNumber",
    "GeneratorText",
    "FrameLabel",
    "",
    "SoundStreamHead2",
    "DefineMorphShape",
    "",
    "DefineFont2",
    "TemplateCommand",
    "",
    "Generator3",
    "ExternalFont",
    "",
    "",
    "",
    "ExportAssets",
    "ImportAssets",
    "EnableDebugger",
    "MX0",
    "MX1",
    "MX2",
    "MX3",
    "MX4",
};

uint32_t le16(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8);
}

uint32_t le32(const uint8_t* p) {
    return le16(p) | (le16(p + 2) << 16);
}

const int kRates[4] = {5512, 11025, 22050, 44100};

// Rate, size and channel bits of a sound header byte (bits 3-2 rate, bit 1
// 16-bit, bit 0 stereo).
void takeSoundBits(uint8_t b, SwfSoundFormat& f) {
    f.rate = kRates[(b >> 2) & 3];
    f.bits = (b & 2) ? 16 : 8;
    f.channels = (b & 1) ? 2 : 1;
}

// Reads the frame rectangle, frame rate and frame count after the 8-byte
// header; returns the offset of the first tag, or 0 when the data ends.
size_t readMovieHeader(const std::vector<uint8_t>& d, SwfMovie& m) {
    if (d.size() < 9) return 0;
    const int nbits = d[8] >> 3;
    const size_t rectBytes = (5 + 4 * size_t(nbits) + 7) / 8;
    size_t p = 8 + rectBytes;
    if (p + 4 > d.size()) return 0;
    m.frameRate = le16(d.data() + p) / 256.0;
    m.frameCount = static_cast<int>(le16(d.data() + p + 2));
    return p + 4;
}

} // namespace

const char* swfTagName(int code) {
    return code >= 0 && code < 64 ? kTagNames[code] : "";
}

const SwfSoundFormat& SwfMovie::sound() const {
    return playsStream() || !event.present ? stream : event;
}

int SwfMovie::durationSec() const {
    if (playsStream()) {
        uint64_t samples = 0;
        if (stream.format == kSwfMp3)
            samples = streamMp3Samples;
        else
            samples = uint64_t(stream.sampleCount) * static_cast<uint64_t>(streamBlocks);
        if (samples > 0 && stream.rate > 0) return static_cast<int>(samples / stream.rate);
        return frameRate > 0 ? static_cast<int>(frameCount / frameRate) : 0;
    }
    if (event.present && event.rate > 0) return static_cast<int>(event.sampleCount / event.rate);
    return 0;
}

namespace {

struct SwfTagWalk {
    // The sound stream headers in file order, with their timelines.
    std::vector<std::pair<int, SwfSoundFormat>> heads;
    int sprites = 0;
};

// Walks the tags in [p, end) of timeline `timeline` (0 the movie's own, the
// others DefineSprite bodies, whose sound streams play like the movie's).
void walkTags(SwfMovie& m, SwfTagWalk& walk, size_t p, size_t end, int timeline) {
    const std::vector<uint8_t>& d = m.data;
    while (p + 2 <= end) {
        uint32_t head = le16(d.data() + p);
        p += 2;
        const int code = static_cast<int>(head >> 6);
        size_t len = head & 63;
        if (len == 63) {
            if (p + 4 > end) break;
            len = le32(d.data() + p);
            p += 4;
        }
        if (code == 0) break;
        if (len > end - p) break; // the tag runs past the data
        const uint8_t* body = d.data() + p;
        int id = -1;
        if (std::strncmp(swfTagName(code), "Def", 3) == 0 && len >= 2)
            id = static_cast<int>(le16(body));
        if ((code == kSwfSoundStreamBlock || code == kSwfDefineSound) &&
            m.sounds.size() < kSwfSoundIndexMax) {
            SwfSoundEntry e;
            e.offset = p;
            e.length = len;
            e.code = code;
            e.characterId = code == kSwfDefineSound ? id : -1;
            e.timeline = timeline;
            m.sounds.push_back(e);
        }
        if ((code == kSwfSoundStreamHead || code == kSwfSoundStreamHead2) && len >= 2) {
            // The second byte describes the stream's data: its compression
            // in the high nibble and the rate, size and channels it is
            // coded at.
            SwfSoundFormat f;
            f.present = true;
            takeSoundBits(body[1], f);
            f.format = body[1] >> 4;
            if (len >= 4) f.sampleCount = le16(body + 2);
            walk.heads.emplace_back(timeline, f);
        }
        if (code == kSwfDefineSound && len >= 7 && !m.event.present) {
            SwfSoundFormat f;
            f.present = true;
            takeSoundBits(body[2], f);
            f.format = body[2] >> 4;
            f.sampleCount = le32(body + 3);
            m.event = f;
        }
        // A sprite (id, frame count, its own tags) holds no sprites itself.
        if (code == kSwfDefineSprite && timeline == 0 && len >= 4)
            walkTags(m, walk, p + 4, p + len, ++walk.sprites);
        p += len;
    }
}

} // namespace

SwfResult parseSwf(std::vector<uint8_t> file, SwfInflate inflate, SwfMovie& m) {
    m = SwfMovie();
    if (file.size() < 10) return SwfResult::TooShort;
    if (!((file[0] == 'F' || file[0] == 'C' || file[0] == 'Z') && file[1] == 'W' && file[2] == 'S'))
        return SwfResult::NotSwf;
    m.version = file[3];
    if (file[0] == 'Z') return SwfResult::Compressed;
    if (file[0] == 'C') {
        if (!inflate) return SwfResult::Compressed;
        // The stated length counts the 8-byte header. Writers that could
        // not go back to fill it in leave a stand-in there, so it is only a
        // first guess, never more than zlib's best ratio allows; what
        // inflates is taken.
        const uint64_t stated = le32(file.data() + 4);
        const uint64_t limit =
            std::min<uint64_t>(kSwfMaxInflated, (file.size() - 8) * 1032ull + 64);
        uint64_t room64 = stated > 8 && stated - 8 < limit ? stated - 8 : limit;
        std::unique_ptr<uint8_t[]> out;
        unsigned long room = 0;
        int rc = 0;
        for (;;) {
            out.reset(new uint8_t[static_cast<size_t>(room64)]);
            room = static_cast<unsigned long>(room64);
            rc = inflate(out.get(), &room, file.data() + 8,
                         static_cast<unsigned long>(file.size() - 8));
            // Filled to the brim: the stated length was too small.
            if (rc == 0 || room < room64 || room64 >= limit) break;
            room64 = limit;
        }
        // A stream cut short still gives what it inflated.
        if ((rc != 0 && room == 0) || room > room64) return SwfResult::InflateFailed;
        // The movie is inflated once more straight into its place, the
        // first buffer gone: one copy of the inflated data in memory, never
        // two (the first pass touched only what it inflated).
        out.reset();
        const unsigned long size = room;
        std::vector<uint8_t> body(8 + size);
        std::memcpy(body.data(), file.data(), 8);
        room = size;
        inflate(body.data() + 8, &room, file.data() + 8,
                static_cast<unsigned long>(file.size() - 8));
        if (room != size) return SwfResult::InflateFailed;
        m.data = std::move(body);
        m.compressed = true;
    } else {
        m.data = std::move(file);
    }
    size_t p = readMovieHeader(m.data, m);
    if (p == 0) return SwfResult::Ok; // no tags: a movie without sound
    SwfTagWalk walk;
    walkTags(m, walk, p, m.data.size(), 0);
    // The stream is the first header's whose timeline has blocks (a movie
    // often has an empty header of its own and the sound in a sprite);
    // blocks of other timelines are left out. When no header's timeline has
    // blocks, the last header describes the stream and the movie's own
    // blocks stay.
    int timeline = 0;
    bool found = false;
    for (const auto& h : walk.heads) {
        const bool hasBlocks =
            std::any_of(m.sounds.begin(), m.sounds.end(), [&](const SwfSoundEntry& e) {
                return e.code == kSwfSoundStreamBlock && e.timeline == h.first;
            });
        if (hasBlocks) {
            timeline = h.first;
            m.stream = h.second;
            found = true;
            break;
        }
    }
    if (!found && !walk.heads.empty()) m.stream = walk.heads.back().second;
    m.sounds.erase(std::remove_if(m.sounds.begin(), m.sounds.end(),
                                  [&](const SwfSoundEntry& e) {
                                      return e.code == kSwfSoundStreamBlock &&
                                             e.timeline != timeline;
                                  }),
                   m.sounds.end());
    for (const auto& e : m.sounds) {
        if (e.code != kSwfSoundStreamBlock) continue;
        ++m.streamBlocks;
        if (e.length >= 2) m.streamMp3Samples += le16(m.data.data() + e.offset);
    }
    return SwfResult::Ok;
}

} // namespace kestrel
