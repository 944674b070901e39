// The container metadata that libavformat reads from a file: the key/value
// pairs of its global dictionary (ASF content descriptions, RealMedia CONT,
// AVI and WAV INFO lists, Matroska and Ogg comments, ...) under FFmpeg's
// generic key names ("title", "artist", "album", "track", "date", ...), and
// its attached picture, if any.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kestrel {

struct ContainerMetadata {
    std::vector<std::pair<std::string, std::string>> entries; // keys in lower case
    std::vector<uint8_t> picture;
    std::string pictureMime; // "image/jpeg", "image/png" or empty
};

// 0, or negative when no demultiplexer reads `path`.
int readContainerMetadata(const std::string& path, ContainerMetadata& out);

} // namespace kestrel
