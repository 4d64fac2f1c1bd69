#pragma once
// The text of the Help page, one entry per line (the fifth and the last are empty).

#include <array>

namespace tarvik {

inline constexpr std::array<const char*, 11> kHelpLines{
    "Input String format:",
    "HEX:    0x01 or 0x1",
    "DEC:    123",
    "ASCII:  \"A\" or \"A3\" = 0x41 0x33",
    "",
    "Button function:",
    "SUM - 1.insert 0x33 in the begining   2.append Checksum",
    "BCC - 1.insert 0x09 in the begining   2.append BCC    3.insert 0x0D in the end",
    "Timer - Auto click \"Send\" every msec as the edit box",
    "ASCII - Display the received char in ASCII format('A'..'Z','a'..'z','0'..'9')",
    "",
};

}  // namespace tarvik
