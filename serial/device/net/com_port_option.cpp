#include "serial/device/net/com_port_option.h"

namespace cport::device::net {

using namespace telnet;
using namespace rfc2217;

namespace {

// The options this client speaks, as indices into its tables; -1 for others.
int Slot(std::uint8_t option) {
    switch (option) {
        case kBinary:
            return 0;
        case kSuppressGoAhead:
            return 1;
        case kComPort:
            return 2;
        default:
            return -1;
    }
}

// Ours to carry out: all three (no go-ahead costs nothing); the server's:
// binary and no go-ahead.
bool WeDo(int slot) {
    return slot >= 0;
}
bool TheyMay(int slot) {
    return slot == 0 || slot == 1;
}

// What a signature may hold: printable ASCII, so that it can be shown as it
// stands.
std::string Printable(const std::vector<std::uint8_t>& value) {
    std::string text;
    for (std::size_t i = 1; i < value.size() && text.size() < 200; ++i) {
        const std::uint8_t c = value[i];
        text.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
    }
    return text;
}

}  // namespace

std::string ComPortSettingNames(std::uint32_t bits) {
    static constexpr const char* kNames[] = {"baud rate",    "data size", "parity",
                                             "stop size",    "flow control", "DTR",
                                             "RTS",          "break",     "purge"};
    std::string text;
    for (std::uint32_t i = 0; i < 9; ++i) {
        if ((bits & (1u << i)) != 0) {
            text += text.empty() ? "" : ", ";
            text += kNames[i];
        }
    }
    return text;
}

void ComPortOption::Start(std::vector<std::uint8_t>& out) {
    localAsked_[2] = localAsked_[0] = true;
    remoteAsked_[0] = remoteAsked_[1] = true;
    AppendOption(kWill, kComPort, out);
    AppendOption(kWill, kBinary, out);
    AppendOption(kDo, kBinary, out);
    AppendOption(kDo, kSuppressGoAhead, out);
}

void ComPortOption::TakeOption(std::uint8_t verb, std::uint8_t option,
                               std::vector<std::uint8_t>& out) {
    const int slot = Slot(option);
    switch (verb) {
        case kDo:
            if (slot < 0 || !WeDo(slot)) {
                AppendOption(kWont, option, out);
                return;
            }
            if (!localOn_[slot]) {
                localOn_[slot] = true;
                if (!localAsked_[slot]) {
                    AppendOption(kWill, option, out);
                }
            }
            if (slot == 2 && acceptance_ == Acceptance::kWaiting) {
                acceptance_ = Acceptance::kAccepted;
                // Asked only once the option is on: a server may drop
                // subnegotiations that come before it.
                Send(kSignature, {}, out);
                Send(kSetLineStateMask, {kLineBreak | kLineFrame | kLineParity | kLineOverrun},
                     out);
                Send(kSetModemStateMask, {0xFF}, out);
            }
            return;
        case kDont:
            if (slot == 2 && acceptance_ == Acceptance::kWaiting) {
                acceptance_ = Acceptance::kRefused;
            }
            if (slot >= 0 && localOn_[slot]) {
                localOn_[slot] = false;
                AppendOption(kWont, option, out);
            }
            return;
        case kWill:
            if (slot < 0 || !TheyMay(slot)) {
                AppendOption(kDont, option, out);
                return;
            }
            if (!remoteOn_[slot]) {
                remoteOn_[slot] = true;
                if (!remoteAsked_[slot]) {
                    AppendOption(kDo, option, out);
                }
            }
            return;
        case kWont:
            if (slot >= 0 && remoteOn_[slot]) {
                remoteOn_[slot] = false;
                AppendOption(kDont, option, out);
            }
            return;
        default:
            return;
    }
}

void ComPortOption::Take(const TelnetCommand& command, std::vector<std::uint8_t>& out) {
    if (command.kind == TelnetCommand::Kind::kOption) {
        TakeOption(command.verb, command.option, out);
        return;
    }
    if (command.kind != TelnetCommand::Kind::kSubnegotiation || command.option != kComPort ||
        command.value.empty()) {
        return;  // other options' news and single commands mean nothing here
    }
    const std::vector<std::uint8_t>& v = command.value;
    const std::uint8_t code = v[0];
    const auto byte = [&v]() -> int { return v.size() == 2 ? v[1] : -1; };
    switch (code) {
        case kServerOffset + kSignature:
            if (v.size() == 1) {
                Answer(kSignature, {'T', 'a', 'r', 'v', 'i', 'k', ' ', '2'}, out);
            } else {
                signature_ = Printable(v);
            }
            return;
        case kServerOffset + kSetBaud:
            if (v.size() == 5) {
                const std::uint32_t baud = (std::uint32_t{v[1]} << 24) | (std::uint32_t{v[2]} << 16) |
                                           (std::uint32_t{v[3]} << 8) | v[4];
                Confirm(kSetBaudRate, baud == asked_.baudRate);
            }
            return;
        case kServerOffset + kSetData:
            if (byte() >= 0) {
                Confirm(kSetDataSize, byte() == asked_.dataSize);
            }
            return;
        case kServerOffset + kSetParityCmd:
            if (byte() >= 0) {
                Confirm(kSetParity, byte() == asked_.parity);
            }
            return;
        case kServerOffset + kSetStop:
            if (byte() >= 0) {
                Confirm(kSetStopSize, byte() == asked_.stopSize);
            }
            return;
        case kServerOffset + kSetControl: {
            const int value = byte();
            if (value >= kFlowNone && value <= kFlowHardware) {
                Confirm(kSetFlowControl, value == asked_.flow);
            } else if (value == kDtrOn || value == kDtrOff) {
                Confirm(kSetDtr, (value == kDtrOn) == dtr_);
            } else if (value == kRtsOn || value == kRtsOff) {
                Confirm(kSetRts, (value == kRtsOn) == rts_);
            } else if (value == kBreakOn || value == kBreakOff) {
                Confirm(kSetBreak, (value == kBreakOn) == breakOn_);
            }
            return;
        }
        case kServerOffset + kNotifyLineState:
            if (byte() >= 0) {
                notifications_.push_back({false, static_cast<std::uint8_t>(byte())});
            }
            return;
        case kServerOffset + kNotifyModemState:
            if (byte() >= 0) {
                modemState_ = static_cast<std::uint8_t>(byte());
                modemKnown_ = true;
                notifications_.push_back({true, modemState_});
            }
            return;
        case kServerOffset + kFlowSuspend:
            suspended_ = true;
            return;
        case kServerOffset + kFlowResume:
            suspended_ = false;
            return;
        case kServerOffset + kPurgeData:
            Confirm(kSetPurge, true);
            return;
        default:
            return;  // mask answers and codes this client does not use
    }
}

void ComPortOption::Confirm(std::uint32_t bit, bool same) {
    awaiting_ &= ~bit;
    if (same) {
        differing_ &= ~bit;
    } else {
        differing_ |= bit;
    }
}

void ComPortOption::Send(std::uint8_t command, const std::vector<std::uint8_t>& value,
                         std::vector<std::uint8_t>& out) {
    std::vector<std::uint8_t> body;
    body.reserve(value.size() + 1);
    body.push_back(command);
    body.insert(body.end(), value.begin(), value.end());
    AppendSubnegotiation(kComPort, body, out);
}

void ComPortOption::Answer(std::uint8_t command, const std::vector<std::uint8_t>& value,
                           std::vector<std::uint8_t>& out) {
    Send(command, value, out);
}

void ComPortOption::Apply(const ComPortSettings& s, std::vector<std::uint8_t>& out) {
    asked_ = s;
    const std::uint32_t b = s.baudRate;
    Send(kSetBaud,
         {static_cast<std::uint8_t>(b >> 24), static_cast<std::uint8_t>(b >> 16),
          static_cast<std::uint8_t>(b >> 8), static_cast<std::uint8_t>(b)},
         out);
    Send(kSetData, {s.dataSize}, out);
    Send(kSetParityCmd, {s.parity}, out);
    Send(kSetStop, {s.stopSize}, out);
    Send(kSetControl, {s.flow}, out);
    awaiting_ |= kSetBaudRate | kSetDataSize | kSetParity | kSetStopSize | kSetFlowControl;
    Control(s.dtr ? kDtrOn : kDtrOff, out);
    if (s.setRts) {
        Control(s.rts ? kRtsOn : kRtsOff, out);
    }
}

void ComPortOption::Control(std::uint8_t value, std::vector<std::uint8_t>& out) {
    switch (value) {
        case kDtrOn:
        case kDtrOff:
            dtr_ = value == kDtrOn;
            awaiting_ |= kSetDtr;
            break;
        case kRtsOn:
        case kRtsOff:
            rts_ = value == kRtsOn;
            awaiting_ |= kSetRts;
            break;
        case kBreakOn:
        case kBreakOff:
            breakOn_ = value == kBreakOn;
            awaiting_ |= kSetBreak;
            break;
        default:
            break;
    }
    Send(kSetControl, {value}, out);
}

void ComPortOption::Purge(std::uint8_t which, std::vector<std::uint8_t>& out) {
    awaiting_ |= kSetPurge;
    Send(kPurgeData, {which}, out);
}

}  // namespace cport::device::net
