#include "app/received_check.h"

#include <cctype>
#include <cstdint>
#include <span>

namespace tarvik {

namespace {

std::span<const std::uint8_t> Bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.empty() || a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
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

const fun::TCheckValue* CheckValueNamed(std::string_view name) {
    for (const fun::TCheckValue& check : fun::CheckValues()) {
        if (SameName(check.name, name) || SameName(check.alias, name))
            return &check;
    }
    return nullptr;
}

}  // namespace tarvik
