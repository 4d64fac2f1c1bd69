// The Telnet parser and the RFC 2217 client over whatever a server might send:
// the input is cut into reads of varying size, each read's commands go to
// the client, and its answers and requests are built as they would be sent.
// Nothing may crash, grow without bound or hand out more data than came in.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "serial/device/net/com_port_option.h"
#include "serial/device/net/telnet_parser.h"

using namespace cport::device::net;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte sets the size of the reads.
    const std::size_t piece = 1 + data[0] % 64;
    ++data;
    --size;
    TelnetParser parser;
    ComPortOption option;
    std::vector<std::uint8_t> out;
    option.Start(out);
    std::vector<std::uint8_t> buffer(data, data + size);
    for (std::size_t at = 0; at < size && !parser.Failed(); at += piece) {
        const std::size_t n = std::min(piece, size - at);
        const std::size_t kept = parser.Feed(buffer.data() + at, n, buffer.data() + at);
        if (kept > n) {
            std::abort();
        }
        for (const TelnetCommand& command : parser.Commands()) {
            if (command.kind == TelnetCommand::Kind::kSubnegotiation &&
                command.value.size() >= TelnetParser::kLongestSubnegotiation) {
                std::abort();
            }
            option.Take(command, out);
        }
        parser.Commands().clear();
        option.Notifications().clear();
        out.clear();
    }
    ComPortSettings settings;
    settings.baudRate = 115200;
    option.Apply(settings, out);
    option.Control(rfc2217::kBreakOn, out);
    return 0;
}
