#pragma once
// Port names that lead to the network: "rfc2217://HOST:PORT" (a serial port
// served over Telnet with the COM-PORT-OPTION) and "socket://HOST:PORT" (raw
// TCP). HOST is a name, an IPv4 address or an IPv6 address in brackets. Pure,
// any thread.

#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cport::device::net {

enum class NetProtocol : std::uint8_t { kRaw, kRfc2217 };

struct NetAddress {
    NetProtocol protocol = NetProtocol::kRaw;
    std::string host;  // without brackets
    std::uint16_t port = 0;
};

// Whether the name starts like a network port (any letter case), well formed
// or not: such a name is never a device path.
bool IsNetworkPortName(std::string_view name);
// Whether the text is on its way to one: a network port name, or the start
// of "rfc2217://" or "socket://" (any letter case, not empty).
bool BeginsLikeNetworkPortName(std::string_view text);

// The address, or nothing when the name is not a well-formed network port.
std::optional<NetAddress> ParseNetAddress(std::string_view name);

// "HOST:PORT" ("[::1]:PORT" for IPv6), as messages name it.
std::string HostAndPort(const NetAddress& address);

// Error numbers for what failed on the way to a server, beside the usual
// ECONNREFUSED and ETIMEDOUT.
inline constexpr int kNameNotResolved = ENXIO;        // the host name has no address
inline constexpr int kBadNetworkName = EINVAL;        // not HOST:PORT
inline constexpr int kOptionRefused = ENOPROTOOPT;    // the server refused RFC 2217
inline constexpr int kServerSilent = ETIME;          // no answer to the Telnet negotiation
inline constexpr int kProtocolFault = EPROTO;        // malformed Telnet from the server

}  // namespace cport::device::net
