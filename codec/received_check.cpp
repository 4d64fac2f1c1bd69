#include "codec/received_check.h"

#include <cstdint>
#include <span>

namespace tarvik {

namespace {

std::span<const std::uint8_t> Bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

std::string ReceivedCheckMark(const fun::TCheckValue& check, std::string_view message) {
    if (check.kind == fun::TCheckKind::NmeaXor) {
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
            message.remove_suffix(1);
    }
    // The value's length on the line does not depend on the bytes it covers.
    const std::size_t length = fun::CheckValueBytes(check, {}).size();
    if (message.size() < length ||
        (check.kind == fun::TCheckKind::NmeaXor && message.size() == length))
        return " too short";
    const std::string_view head = message.substr(0, message.size() - length);
    if (fun::CheckValueBytes(check, Bytes(head)) == message.substr(head.size()))
        return " ok";
    return " bad, expected " + fun::CheckValueTokens(check, Bytes(head));
}

}  // namespace tarvik
