#include "codec/received_check.h"

#include <cctype>
#include <cstdint>
#include <span>

namespace tarvik {

namespace {

std::span<const std::uint8_t> Bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

bool IsHexDigit(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

}  // namespace

TReceivedCheck CheckReceived(const fun::TCheckValue& check, std::string_view message) {
    const bool nmea = check.kind == fun::TCheckKind::NmeaXor;
    if (nmea) {
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
            message.remove_suffix(1);
    }
    // The value's length on the line does not depend on the bytes it covers.
    const std::size_t length = fun::CheckValueBytes(check, {}).size();
    if (message.size() < length || (nmea && message.size() == length))
        return {TLineKind::TooShort, " too short"};
    if (nmea) {
        // Reading the last three bytes blindly took "*4" or a sentence
        // without any checksum for a wrong value.
        const std::size_t star = message.rfind('*');
        if (star == std::string_view::npos)
            return {TLineKind::Bad, " bad, no checksum"};
        if (star != message.size() - 3 || !IsHexDigit(message[star + 1]) ||
            !IsHexDigit(message[star + 2]))
            return {TLineKind::Bad, " bad, malformed checksum"};
    }
    const std::string_view head = message.substr(0, message.size() - length);
    if (fun::CheckValueBytes(check, Bytes(head)) == message.substr(head.size()))
        return {TLineKind::Ok, " ok"};
    return {TLineKind::Bad, " bad, expected " + fun::CheckValueTokens(check, Bytes(head))};
}

}  // namespace tarvik
