#pragma once
// One connection to a network port: the TCP socket, and for RFC 2217 the
// Telnet parser and the COM-PORT-OPTION client over it. The device that owns
// it (PosixPort) reads and writes through it and turns its news into line
// events; it blocks only in Connect. Used under the owner's lock.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "serial/device/net/com_port_option.h"
#include "serial/device/net/net_address.h"
#include "serial/device/net/telnet_parser.h"

namespace cport::device::net {

class NetLine {
  public:
    // How long a connection may take, and the server its answer to the
    // Telnet negotiation.
    static constexpr std::chrono::milliseconds kConnectLimit{5000};
    static constexpr std::chrono::milliseconds kNegotiationLimit{3000};
    // How long settings wait for the server's confirmation before they are
    // reported as unconfirmed.
    static constexpr std::chrono::milliseconds kConfirmLimit{1000};
    // Answers to the server that it does not take from us: beyond this, a
    // server that keeps asking without reading is refused.
    static constexpr std::size_t kMostUnsent = 256 * 1024;

    // Resolves and connects within the limit; nullptr with *error (errno,
    // or kNameNotResolved) on failure. The socket is non-blocking.
    static std::unique_ptr<NetLine> Connect(const NetAddress& address,
                                            std::chrono::milliseconds limit, int* error);
    ~NetLine();
    NetLine(const NetLine&) = delete;
    NetLine& operator=(const NetLine&) = delete;

    int Fd() const { return fd_; }
    const NetAddress& Address() const { return address_; }
    bool Telnet() const { return address_.protocol == NetProtocol::kRfc2217; }
    ComPortOption& Option() { return option_; }

    // Received bytes, in place: the data among them stays, its count is
    // returned; the commands go to the option (answers queued to send).
    // nullopt when the server broke the protocol (Fault() says how).
    std::optional<std::size_t> Decode(std::uint8_t* data, std::size_t n);
    const std::string& Fault() const { return parser_.Failed() ? parser_.Fault() : fault_; }

    // Sends data (255 doubled over Telnet) after whatever is queued: the
    // count taken, or -1 with errno (EAGAIN while the socket or the server's
    // flow control holds it back).
    ssize_t Send(const std::uint8_t* data, std::size_t n);
    // Bytes of the option to send, then flushed as far as the socket takes
    // them.
    std::vector<std::uint8_t>& Outgoing() { return pending_; }
    // 0 when all is sent, EAGAIN while some waits, else errno.
    int Flush();
    bool HasPending() const { return sent_ < pending_.size(); }

  private:
    NetLine(int fd, NetAddress address) : fd_(fd), address_(std::move(address)) {}

    int fd_;
    NetAddress address_;
    TelnetParser parser_;
    ComPortOption option_;
    std::vector<std::uint8_t> pending_;  // to send: commands, and escaped data the socket left
    std::size_t sent_ = 0;               // of pending_
    std::vector<std::uint8_t> scratch_;
    std::string fault_;
};

}  // namespace cport::device::net
