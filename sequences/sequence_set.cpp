#include "sequences/sequence_set.h"

#include <algorithm>
#include <cctype>

#include "codec/check_value.h"
#include "codec/pattern.h"

namespace tarvik::sequences {

namespace {

bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

const SendSequence* SequenceSet::FindSend(std::string_view name) const {
    const auto found = std::find_if(sends.begin(), sends.end(),
                                    [name](const SendSequence& send) { return send.name == name; });
    return found == sends.end() ? nullptr : &*found;
}

std::string EncodeSend(const SendSequence& send) {
    std::string bytes = fun::EncodeLine(send.line);
    if (!send.check.empty()) {
        const fun::TCheckValue& check = runner::CheckValueNamed(send.check);
        bytes += fun::CheckValueBytes(
            check, {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
    }
    return bytes;
}

std::string KeyName(int key, bool shift) {
    if (key == 0)
        return {};
    return (shift ? "Shift+F" : "F") + std::to_string(key);
}

bool ParseKeyName(std::string_view text, int& key, bool& shift) {
    shift = false;
    if (text.size() > 6 && SameText(text.substr(0, 6), "shift+")) {
        shift = true;
        text.remove_prefix(6);
    }
    if (text.size() < 2 || text.size() > 3 || (text[0] != 'F' && text[0] != 'f'))
        return false;
    int number = 0;
    for (const char c : text.substr(1)) {
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + (c - '0');
    }
    if (number < 1 || number > 12 || text[1] == '0')
        return false;
    key = number;
    return true;
}

}  // namespace tarvik::sequences
