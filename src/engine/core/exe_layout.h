// The self-playing EXE file: its layout, the enciphered 320-byte descriptor,
// the masking of its MP3 data and the CRC-32 that guards both parts.
//
// File layout: the player program (kPlayerBytes, handed out in seven pieces),
// the descriptor (kDescriptorBytes, enciphered with three-fold DES in ECB
// mode), then the masked MP3 frames from kDataOffset to the end of the file.
//
// This module is shared by the EXE writer of the conversion engine, by the
// command line's extract and info commands and by the Windows player program
// itself, so it depends on the standard library alone.
//
// The password and the masking keep casual listeners out; they are not
// encryption: the keys travel in the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrel::exe {

inline constexpr uint32_t kPlayerBytes = 499712;
inline constexpr uint32_t kDescriptorBytes = 320;
inline constexpr uint32_t kDataOffset = kPlayerBytes + kDescriptorBytes; // 500032
inline constexpr int kPlayerPieces = 7;
inline constexpr int kPieceBufferBytes = 82020;
// The password field holds at most this many bytes before its terminating 0.
inline constexpr size_t kPasswordBytes = 15;
// The description field is 256 bytes, but bytes 200..215 carry the layout
// values: a description keeps at most 199 bytes and its terminating 0.
inline constexpr size_t kDescriptionBytes = 199;

// CRC-32 of the MPEG-2 systems standard: polynomial 0x04C11DB7, most
// significant bit first, no final inversion. Start with kCrcInit.
inline constexpr uint32_t kCrcInit = 0xFFFFFFFFu;
uint32_t crc32Mpeg2(uint32_t crc, const uint8_t* bytes, size_t length);
// The CRC state after `count` more zero bytes. The CRC is linear: changing
// the first bytes of a run by XOR with D changes its CRC by the CRC (from 0)
// of D followed by zeros to the run's end.
uint32_t crc32Mpeg2Zeros(uint32_t crc, uint64_t count);

// DES (FIPS 46-3) on one 8-byte block, big-endian as the standard writes it.
struct DesKey {
    uint64_t subkeys[16];
};
void desSetKey(DesKey& k, const uint8_t key[8]);
uint64_t desEncrypt(const DesKey& k, uint64_t block);
uint64_t desDecrypt(const DesKey& k, uint64_t block);

// The masking keys and counters of one EXE output.
struct Scramble {
    uint8_t keys[5] = {0, 0, 0, 0, 0}; // keyA .. keyE
    int32_t period = 64;               // 64 .. 399
    uint32_t maskedBytes = 0;
    uint32_t pcmBytes = 0;
    uint32_t playerBytes = 0;
    uint32_t playerCrc = 0;
    uint32_t dataCrc = kCrcInit;
    int32_t layout[4] = {0, 0, 0, 0};
};

// Draws keyA .. keyE and the period from `draw` (a rand()-like source of
// non-negative numbers) and resets the counters and layout values.
void drawKeys(Scramble& s, int (*draw)());

// The key of MP3 byte position q.
uint8_t maskKey(const uint8_t keys[5], int32_t period, uint32_t q);
// XORs `length` bytes that sit at MP3 positions `position`... with their keys;
// masking and unmasking are the same operation.
void maskBytes(const uint8_t keys[5], int32_t period, uint32_t position, uint8_t* bytes,
               size_t length);

// The descriptor's fields.
struct Descriptor {
    uint32_t maskedBytes = 0;
    uint32_t seconds = 0;
    int32_t period = 64;
    int32_t speedControl = 0;
    int32_t passwordOn = 0;
    std::string password;    // code page 936 bytes, at most kPasswordBytes
    std::string description; // code page 936 bytes, at most kDescriptionBytes
    uint8_t keys[5] = {0, 0, 0, 0, 0};
    int32_t layout[4] = {0, 0, 0, 0};
    int32_t outRate = 44100;
    int32_t mpegVersion = 0;
    int32_t variableRate = 0;
    uint8_t channels = 2;
    uint32_t playerCrc = 0;
    uint32_t dataCrc = 0;
};

// Writes the descriptor's plain bytes (texts cut to their fields).
void buildDescriptor(const Descriptor& d, uint8_t out[kDescriptorBytes]);
// Reads plain bytes; -1 when the two marker bytes are wrong or a value is out
// of range (period, channels, rate, flags), 0 otherwise.
int parseDescriptor(const uint8_t in[kDescriptorBytes], Descriptor& d);

// Three-fold DES (ECB, 40 blocks) with the program's three keys, in place.
void encipherDescriptor(uint8_t bytes[kDescriptorBytes]);
void decipherDescriptor(uint8_t bytes[kDescriptorBytes]);

// Reads a 32-bit little-endian value.
inline uint32_t readLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

} // namespace kestrel::exe
