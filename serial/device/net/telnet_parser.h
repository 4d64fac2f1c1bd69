#pragma once
// The receiving side of a Telnet connection: splits what the server sends into
// data bytes and Telnet commands (option verbs, subnegotiations, single
// commands), with a doubled 255 taken as one data byte. Everything from the
// network is untrusted: a subnegotiation longer than the limit, or a byte
// that has no meaning after IAC, stops the parser with a reason in words.
// Pure, no system calls; one instance per connection, used under its owner's
// lock.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cport::device::net {

namespace telnet {
inline constexpr std::uint8_t kSe = 240;
inline constexpr std::uint8_t kNop = 241;
inline constexpr std::uint8_t kSb = 250;
inline constexpr std::uint8_t kWill = 251;
inline constexpr std::uint8_t kWont = 252;
inline constexpr std::uint8_t kDo = 253;
inline constexpr std::uint8_t kDont = 254;
inline constexpr std::uint8_t kIac = 255;

inline constexpr std::uint8_t kBinary = 0;
inline constexpr std::uint8_t kSuppressGoAhead = 3;
inline constexpr std::uint8_t kComPort = 44;
}  // namespace telnet

// What the parser found besides data, in the order it came.
struct TelnetCommand {
    enum class Kind : std::uint8_t { kOption, kSubnegotiation, kSingle };
    Kind kind = Kind::kSingle;
    std::uint8_t verb = 0;            // kOption: WILL, WONT, DO, DONT; kSingle: the command
    std::uint8_t option = 0;          // kOption, kSubnegotiation
    std::vector<std::uint8_t> value;  // kSubnegotiation: the bytes after the option, unescaped
};

class TelnetParser {
  public:
    // The longest subnegotiation taken (option byte and value); RFC 2217's
    // longest useful one is a server's signature.
    static constexpr std::size_t kLongestSubnegotiation = 512;

    // Takes n bytes from the network, writes the data among them to out (which
    // may be data itself: it never gets ahead of the input) and returns their
    // count. Commands go to Commands(). After a fault nothing more is taken
    // (0 is returned) and Fault() says why.
    std::size_t Feed(const std::uint8_t* data, std::size_t n, std::uint8_t* out);

    std::vector<TelnetCommand>& Commands() { return commands_; }
    bool Failed() const { return !fault_.empty(); }
    const std::string& Fault() const { return fault_; }

  private:
    enum class State : std::uint8_t { kData, kIac, kVerb, kSbOption, kSb, kSbIac };
    void Fail(std::string why);

    State state_ = State::kData;
    std::uint8_t verb_ = 0;
    TelnetCommand sub_;
    std::vector<TelnetCommand> commands_;
    std::string fault_;
};

// Appends data to out with every 255 doubled, as Telnet sends it.
void AppendEscaped(const std::uint8_t* data, std::size_t n, std::vector<std::uint8_t>& out);

// IAC verb option.
void AppendOption(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>& out);

// IAC SB option value... IAC SE, the value escaped.
void AppendSubnegotiation(std::uint8_t option, const std::vector<std::uint8_t>& value,
                          std::vector<std::uint8_t>& out);

}  // namespace cport::device::net
