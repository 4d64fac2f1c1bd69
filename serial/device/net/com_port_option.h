#pragma once
// The client's side of RFC 2217, the Telnet COM-PORT-OPTION (44): the option
// negotiation, the line settings and output lines asked of the server and
// what it confirmed, the notifications of its line and modem state, and its
// signature. Works on Telnet commands and bytes to send, with no socket of
// its own (NetLine carries them), so tests and the fuzzer drive it directly.
// One instance per connection, used under its owner's lock.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "serial/device/net/telnet_parser.h"

namespace cport::device::net {

// The settings a client asks for, one bit each where a confirmation is
// awaited.
enum ComPortSetting : std::uint32_t {
    kSetBaudRate = 1u << 0,
    kSetDataSize = 1u << 1,
    kSetParity = 1u << 2,
    kSetStopSize = 1u << 3,
    kSetFlowControl = 1u << 4,
    kSetDtr = 1u << 5,
    kSetRts = 1u << 6,
    kSetBreak = 1u << 7,
    kSetPurge = 1u << 8,
};

// "baud rate, DTR": the names of the bits set, for messages.
std::string ComPortSettingNames(std::uint32_t bits);

// The RFC's own values.
namespace rfc2217 {
inline constexpr std::uint8_t kSignature = 0;
inline constexpr std::uint8_t kSetBaud = 1;
inline constexpr std::uint8_t kSetData = 2;
inline constexpr std::uint8_t kSetParityCmd = 3;
inline constexpr std::uint8_t kSetStop = 4;
inline constexpr std::uint8_t kSetControl = 5;
inline constexpr std::uint8_t kNotifyLineState = 6;
inline constexpr std::uint8_t kNotifyModemState = 7;
inline constexpr std::uint8_t kFlowSuspend = 8;
inline constexpr std::uint8_t kFlowResume = 9;
inline constexpr std::uint8_t kSetLineStateMask = 10;
inline constexpr std::uint8_t kSetModemStateMask = 11;
inline constexpr std::uint8_t kPurgeData = 12;
inline constexpr std::uint8_t kServerOffset = 100;  // a server's answer: the command + 100

// SET-CONTROL values.
inline constexpr std::uint8_t kFlowNone = 1;
inline constexpr std::uint8_t kFlowXonXoff = 2;
inline constexpr std::uint8_t kFlowHardware = 3;
inline constexpr std::uint8_t kBreakOn = 5;
inline constexpr std::uint8_t kBreakOff = 6;
inline constexpr std::uint8_t kDtrOn = 8;
inline constexpr std::uint8_t kDtrOff = 9;
inline constexpr std::uint8_t kRtsOn = 11;
inline constexpr std::uint8_t kRtsOff = 12;

// Line state bits.
inline constexpr std::uint8_t kLineBreak = 0x10;
inline constexpr std::uint8_t kLineFrame = 0x08;
inline constexpr std::uint8_t kLineParity = 0x04;
inline constexpr std::uint8_t kLineOverrun = 0x02;
// Modem state bits.
inline constexpr std::uint8_t kModemDcd = 0x80;
inline constexpr std::uint8_t kModemRi = 0x40;
inline constexpr std::uint8_t kModemDsr = 0x20;
inline constexpr std::uint8_t kModemCts = 0x10;
}  // namespace rfc2217

// What the client asks for; parity 1 none, 2 odd, 3 even, 4 mark, 5 space;
// stop size 1 one, 2 two, 3 one and a half (the RFC's numbers).
struct ComPortSettings {
    std::uint32_t baudRate = 9600;
    std::uint8_t dataSize = 8;
    std::uint8_t parity = 1;
    std::uint8_t stopSize = 1;
    std::uint8_t flow = rfc2217::kFlowNone;
    bool dtr = false;
    bool rts = false;
    bool setRts = true;  // false while hardware flow control drives RTS
};

class ComPortOption {
  public:
    enum class Acceptance : std::uint8_t { kWaiting, kAccepted, kRefused };
    struct Notification {
        bool modem = false;  // modem state, else line state
        std::uint8_t value = 0;
    };

    // The opening requests: the option, binary both ways, no go-ahead, the
    // server's signature, and which line and modem changes it should tell.
    void Start(std::vector<std::uint8_t>& out);
    // Acts on one command from the server; answers go to out.
    void Take(const TelnetCommand& command, std::vector<std::uint8_t>& out);

    void Apply(const ComPortSettings& settings, std::vector<std::uint8_t>& out);
    // One SET-CONTROL (DTR, RTS, break).
    void Control(std::uint8_t value, std::vector<std::uint8_t>& out);
    // 1 receive, 2 transmit, 3 both.
    void Purge(std::uint8_t which, std::vector<std::uint8_t>& out);

    Acceptance Accepted() const { return acceptance_; }
    // Settings asked for and not confirmed yet.
    std::uint32_t Awaiting() const { return awaiting_; }
    // Settings the server answered with another value than asked.
    std::uint32_t Differing() const { return differing_; }
    const std::string& Signature() const { return signature_; }
    // The modem lines as last told (rfc2217::kModem* bits); whether told yet.
    std::uint8_t ModemState() const { return modemState_; }
    bool ModemStateKnown() const { return modemKnown_; }
    bool Dtr() const { return dtr_; }
    bool Rts() const { return rts_; }
    // The server asked us to stop sending (FLOWCONTROL-SUSPEND) and has not
    // resumed yet.
    bool Suspended() const { return suspended_; }
    std::vector<Notification>& Notifications() { return notifications_; }

  private:
    void Send(std::uint8_t command, const std::vector<std::uint8_t>& value,
              std::vector<std::uint8_t>& out);
    void Answer(std::uint8_t command, const std::vector<std::uint8_t>& value,
                std::vector<std::uint8_t>& out);
    void Confirm(std::uint32_t bit, bool same);
    void TakeOption(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>& out);

    Acceptance acceptance_ = Acceptance::kWaiting;
    // Options on (index 0: ours, 1: the server's), and asked for by us.
    bool localOn_[3] = {}, remoteOn_[3] = {}, localAsked_[3] = {}, remoteAsked_[3] = {};
    ComPortSettings asked_;
    std::uint32_t awaiting_ = 0;
    std::uint32_t differing_ = 0;
    std::string signature_;
    std::uint8_t modemState_ = 0;
    bool modemKnown_ = false;
    bool dtr_ = false;
    bool rts_ = false;
    bool breakOn_ = false;
    bool suspended_ = false;
    std::vector<Notification> notifications_;
};

}  // namespace cport::device::net
