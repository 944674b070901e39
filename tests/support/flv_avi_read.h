// Reading back the FLV and AVI files the converter writes: their tags,
// chunks, index and metadata, and the MP3 bytes they carry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::test {

uint32_t be24(const std::vector<uint8_t>& b, size_t at);
uint32_t be32(const std::vector<uint8_t>& b, size_t at);
uint32_t le32At(const std::vector<uint8_t>& b, size_t at);
uint16_t le16At(const std::vector<uint8_t>& b, size_t at);
std::string fourcc(const std::vector<uint8_t>& b, size_t at);

struct FlvTag {
    size_t at = 0; // file position of the tag header
    uint8_t type = 0;
    uint32_t dataSize = 0;
    uint32_t timestamp = 0;       // with the extension byte
    uint32_t previousTagSize = 0; // the 4 bytes that follow the tag
    std::vector<uint8_t> data;
};

struct FlvFile {
    bool ok = false; // a header and tags that end exactly at the file's end
    uint8_t flags = 0;
    uint32_t firstPreviousTagSize = 0xFFFFFFFF;
    std::vector<FlvTag> tags;
};
FlvFile readFlv(const std::vector<uint8_t>& bytes);

// One entry of the onMetaData ECMA array.
struct AmfEntry {
    std::string key;
    int type = -1; // 0 number, 1 boolean, 2 string
    double number = 0;
    bool boolean = false;
    std::string text;
};
struct OnMetaData {
    bool ok = false; // "onMetaData", an ECMA array, the end marker, nothing after
    uint32_t declaredCount = 0;
    std::vector<AmfEntry> entries;
    const AmfEntry* find(const std::string& key) const;
};
OnMetaData readOnMetaData(const FlvTag& tag);

// The MP3 bytes of the audio tags (each tag's data without its header byte).
std::vector<uint8_t> flvMp3(const FlvFile& flv);

struct AviChunk {
    size_t at = 0; // file position of the chunk header
    uint32_t size = 0;
};
struct AviIndexRow {
    std::string id;
    uint32_t flags = 0, offset = 0, size = 0;
};
struct AviFile {
    bool ok = false; // chunks from 2048 up to "idx1", which ends the file
    std::vector<AviChunk> chunks;
    size_t indexAt = 0;
    std::vector<AviIndexRow> index;
};
AviFile readAvi(const std::vector<uint8_t>& bytes);
std::vector<uint8_t> aviMp3(const std::vector<uint8_t>& bytes, const AviFile& avi);

// The MPEG audio frames of an MP3 byte run: their header words, false when
// the run is not whole frames.
bool mp3Frames(const std::vector<uint8_t>& mp3, std::vector<uint32_t>& headers);

} // namespace kestrel::test
