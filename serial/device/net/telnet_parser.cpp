#include "serial/device/net/telnet_parser.h"

#include <algorithm>
#include <cstring>

namespace cport::device::net {

using namespace telnet;

void TelnetParser::Fail(std::string why) {
    fault_ = std::move(why);
    sub_.value.clear();
}

std::size_t TelnetParser::Feed(const std::uint8_t* data, std::size_t n, std::uint8_t* out) {
    std::size_t written = 0;
    for (std::size_t i = 0; i < n && !Failed(); ++i) {
        const std::uint8_t b = data[i];
        switch (state_) {
            case State::kData: {
                // The usual case: a run of plain data moves in one piece.
                const auto* end = static_cast<const std::uint8_t*>(std::memchr(data + i, kIac, n - i));
                const std::size_t run = end != nullptr ? static_cast<std::size_t>(end - (data + i)) : n - i;
                if (run > 0) {
                    std::memmove(out + written, data + i, run);
                    written += run;
                    i += run - 1;
                } else {
                    state_ = State::kIac;
                }
                break;
            }
            case State::kIac:
                if (b == kIac) {
                    out[written++] = kIac;
                    state_ = State::kData;
                } else if (b >= kWill) {
                    verb_ = b;
                    state_ = State::kVerb;
                } else if (b == kSb) {
                    state_ = State::kSbOption;
                } else if (b > kSe) {
                    commands_.push_back({TelnetCommand::Kind::kSingle, b, 0, {}});
                    state_ = State::kData;
                } else {
                    Fail("a Telnet command byte " + std::to_string(b) + " that has no meaning after IAC");
                }
                break;
            case State::kVerb:
                commands_.push_back({TelnetCommand::Kind::kOption, verb_, b, {}});
                state_ = State::kData;
                break;
            case State::kSbOption:
                sub_ = {TelnetCommand::Kind::kSubnegotiation, 0, b, {}};
                state_ = State::kSb;
                break;
            case State::kSb:
                if (b == kIac) {
                    state_ = State::kSbIac;
                } else if (sub_.value.size() + 1 >= kLongestSubnegotiation) {
                    Fail("a Telnet subnegotiation longer than " +
                         std::to_string(kLongestSubnegotiation) + " bytes");
                } else {
                    sub_.value.push_back(b);
                }
                break;
            case State::kSbIac:
                if (b == kSe) {
                    commands_.push_back(std::move(sub_));
                    sub_ = {};
                    state_ = State::kData;
                } else if (b == kIac) {
                    if (sub_.value.size() + 1 >= kLongestSubnegotiation) {
                        Fail("a Telnet subnegotiation longer than " +
                             std::to_string(kLongestSubnegotiation) + " bytes");
                    } else {
                        sub_.value.push_back(kIac);
                        state_ = State::kSb;
                    }
                } else {
                    Fail("an unescaped IAC inside a Telnet subnegotiation");
                }
                break;
        }
    }
    return written;
}

void AppendEscaped(const std::uint8_t* data, std::size_t n, std::vector<std::uint8_t>& out) {
    const std::size_t base = out.size();
    out.resize(base + n + static_cast<std::size_t>(std::count(data, data + n, kIac)));
    std::uint8_t* at = out.data() + base;
    for (std::size_t i = 0; i < n; ++i) {
        *at++ = data[i];
        if (data[i] == kIac) {
            *at++ = kIac;
        }
    }
}

void AppendOption(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>& out) {
    out.insert(out.end(), {kIac, verb, option});
}

void AppendSubnegotiation(std::uint8_t option, const std::vector<std::uint8_t>& value,
                          std::vector<std::uint8_t>& out) {
    out.insert(out.end(), {kIac, kSb, option});
    AppendEscaped(value.data(), value.size(), out);
    out.insert(out.end(), {kIac, kSe});
}

}  // namespace cport::device::net
