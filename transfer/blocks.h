#pragma once
// The blocks of XMODEM and YMODEM as bytes on the line: pure functions, no I/O.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvik::transfer {

inline constexpr unsigned char SOH = 0x01;  // a 128-byte block follows
inline constexpr unsigned char STX = 0x02;  // a 1024-byte block follows
inline constexpr unsigned char EOT = 0x04;
inline constexpr unsigned char ACK = 0x06;
inline constexpr unsigned char NAK = 0x15;
inline constexpr unsigned char CAN = 0x18;
inline constexpr unsigned char SUB = 0x1A;  // pads the last block
inline constexpr unsigned char kCrcStart = 'C';

std::uint16_t Crc16(std::string_view bytes);
std::uint8_t Checksum(std::string_view bytes);

// The whole block: header, number, its complement, the payload padded with
// `pad` to 128 or 1024 bytes (1024 when it is longer than 128), and the CRC
// (high byte first) or the checksum.
std::string FrameBlock(std::uint8_t number, std::string_view payload, bool crc,
                       unsigned char pad = SUB);

// Judges a block after its header byte (`rest`: number, complement, payload,
// check); the payload when whole and right.
std::optional<std::string> UnframeBlock(unsigned char header, std::string_view rest, bool crc);
inline std::size_t PayloadSize(unsigned char header) { return header == STX ? 1024 : 128; }

// YMODEM's block 0: "name\0size mtime mode" then NULs; all NULs ends a batch.
struct FileHeader {
    std::string name;  // empty: the batch is over
    std::optional<std::uint64_t> size;
    std::uint64_t modified = 0;  // seconds since 1970, 0 when not known
};
std::string HeaderPayload(const FileHeader& header);
// nullopt when the payload is no header.
std::optional<FileHeader> ParseHeader(std::string_view payload);

}  // namespace tarvik::transfer
