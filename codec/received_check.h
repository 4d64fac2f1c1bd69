#pragma once
// Received messages checked against a check value: the mark a log line ends
// with. Plain functions; any thread.

#include <string>
#include <string_view>

#include "codec/check_value.h"

namespace tarvik {

// " ok" when the message's last bytes are the check value over the bytes
// before them, " bad, expected 0xCD 0xC5" (the value in the notation) when
// they are not, " too short" when the message cannot hold one. An NMEA
// sentence's closing CR LF is not part of its check.
std::string ReceivedCheckMark(const fun::TCheckValue& check, std::string_view message);

}  // namespace tarvik
