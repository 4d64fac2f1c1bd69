#pragma once
// Received messages checked against a check value: the mark a log line ends
// with, and the verdict. Plain functions; any thread.

#include <string>
#include <string_view>

#include "codec/line_kind.h"
#include "codec/check_value.h"

namespace tarvik {

struct TReceivedCheck {
    TLineKind verdict;  // Ok, Bad or TooShort
    std::string mark;   // what the line ends with
};

// " ok" when the message's last bytes are the check value over the bytes
// before them, " bad, expected 0xCD 0xC5" (the value in the notation) when
// they are not, " too short" when the message cannot hold one. An NMEA
// sentence's closing CR LF is not part of its check; one without "*" has
// " bad, no checksum", one whose "*" is not followed by two hexadecimal
// digits at its end " bad, malformed checksum".
TReceivedCheck CheckReceived(const fun::TCheckValue& check, std::string_view message);
inline std::string ReceivedCheckMark(const fun::TCheckValue& check, std::string_view message) {
    return CheckReceived(check, message).mark;
}

}  // namespace tarvik
