#include "transfer/blocks.h"

#include <charconv>

#include "codec/check_value.h"

namespace tarvik::transfer {

std::uint16_t Crc16(std::string_view bytes) {
    static const fun::TCrcModel model = fun::FindCheckValue("CRC-16/XMODEM")->crc;
    return static_cast<std::uint16_t>(
        fun::Crc(model, {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}));
}

std::uint8_t Checksum(std::string_view bytes) {
    std::uint8_t sum = 0;
    for (const char c : bytes)
        sum = static_cast<std::uint8_t>(sum + static_cast<unsigned char>(c));
    return sum;
}

std::string FrameBlock(std::uint8_t number, std::string_view payload, bool crc,
                       unsigned char pad) {
    const std::size_t size = payload.size() > 128 ? 1024 : 128;
    std::string block;
    block.reserve(size + 5);
    block += static_cast<char>(size == 1024 ? STX : SOH);
    block += static_cast<char>(number);
    block += static_cast<char>(~number);
    block += payload;
    block.append(size - payload.size(), static_cast<char>(pad));
    const std::string_view data = std::string_view(block).substr(3);
    if (crc) {
        const std::uint16_t value = Crc16(data);
        block += static_cast<char>(value >> 8);
        block += static_cast<char>(value & 0xFF);
    } else {
        block += static_cast<char>(Checksum(data));
    }
    return block;
}

std::optional<std::string> UnframeBlock(unsigned char header, std::string_view rest, bool crc) {
    const std::size_t size = PayloadSize(header);
    if (rest.size() != 2 + size + (crc ? 2 : 1))
        return std::nullopt;
    if (static_cast<unsigned char>(rest[0]) != static_cast<unsigned char>(~rest[1]))
        return std::nullopt;
    const std::string_view data = rest.substr(2, size);
    if (crc) {
        const std::uint16_t value = Crc16(data);
        if (static_cast<unsigned char>(rest[2 + size]) != (value >> 8) ||
            static_cast<unsigned char>(rest[3 + size]) != (value & 0xFF))
            return std::nullopt;
    } else if (static_cast<unsigned char>(rest[2 + size]) != Checksum(data)) {
        return std::nullopt;
    }
    return std::string(data);
}

std::string HeaderPayload(const FileHeader& header) {
    std::string payload = header.name;
    if (!payload.empty()) {
        payload += '\0';
        payload += std::to_string(header.size.value_or(0));
        char octal[32];
        const auto end = std::to_chars(octal, octal + sizeof octal, header.modified, 8).ptr;
        payload += ' ';
        payload.append(octal, end);
        payload += " 100644";
    }
    return payload;
}

std::optional<FileHeader> ParseHeader(std::string_view payload) {
    FileHeader header;
    const std::size_t nul = payload.find('\0');
    if (nul == std::string_view::npos)
        return std::nullopt;
    header.name = std::string(payload.substr(0, nul));
    if (header.name.empty())
        return header;
    std::string_view rest = payload.substr(nul + 1);
    rest = rest.substr(0, rest.find('\0'));
    std::uint64_t size = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), size);
    if (error == std::errc() && end != rest.data())
        header.size = size;
    rest.remove_prefix(static_cast<std::size_t>(end - rest.data()));
    while (!rest.empty() && rest.front() == ' ')
        rest.remove_prefix(1);
    std::from_chars(rest.data(), rest.data() + rest.size(), header.modified, 8);
    return header;
}

}  // namespace tarvik::transfer
