#include "serial/device/net/net_address.h"

#include <algorithm>
#include <cctype>

namespace cport::device::net {

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view head) {
    return text.size() >= head.size() &&
           std::equal(head.begin(), head.end(), text.begin(), [](char lower, char c) {
               return std::tolower(static_cast<unsigned char>(c)) == lower;
           });
}

constexpr std::string_view kRfc2217 = "rfc2217://";
constexpr std::string_view kSocket = "socket://";

}  // namespace

bool IsNetworkPortName(std::string_view name) {
    return StartsWithNoCase(name, kRfc2217) || StartsWithNoCase(name, kSocket);
}

bool BeginsLikeNetworkPortName(std::string_view text) {
    // A prefix of a scheme, or longer than it and starting with it.
    return !text.empty() && (StartsWithNoCase(text, kRfc2217.substr(0, text.size())) ||
                             StartsWithNoCase(text, kSocket.substr(0, text.size())));
}

std::optional<NetAddress> ParseNetAddress(std::string_view name) {
    NetAddress address;
    if (StartsWithNoCase(name, kRfc2217)) {
        address.protocol = NetProtocol::kRfc2217;
        name.remove_prefix(kRfc2217.size());
    } else if (StartsWithNoCase(name, kSocket)) {
        address.protocol = NetProtocol::kRaw;
        name.remove_prefix(kSocket.size());
    } else {
        return std::nullopt;
    }
    std::string_view portText;
    if (!name.empty() && name.front() == '[') {
        const std::size_t close = name.find(']');
        if (close == std::string_view::npos || close + 1 >= name.size() || name[close + 1] != ':') {
            return std::nullopt;
        }
        address.host = std::string(name.substr(1, close - 1));
        portText = name.substr(close + 2);
    } else {
        const std::size_t colon = name.rfind(':');
        if (colon == std::string_view::npos) {
            return std::nullopt;
        }
        address.host = std::string(name.substr(0, colon));
        portText = name.substr(colon + 1);
        if (address.host.find(':') != std::string::npos) {
            return std::nullopt;  // an IPv6 address needs its brackets
        }
    }
    // A trailing slash is how URLs often end; anything else after the port is not ours.
    if (!portText.empty() && portText.back() == '/') {
        portText.remove_suffix(1);
    }
    if (address.host.empty() || portText.empty() || portText.size() > 5 ||
        !std::all_of(portText.begin(), portText.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; })) {
        return std::nullopt;
    }
    const unsigned long port = std::stoul(std::string(portText));
    if (port == 0 || port > 65535) {
        return std::nullopt;
    }
    const bool hostOk = std::all_of(address.host.begin(), address.host.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '-' ||
               c == ':' || c == '_' || c == '%';
    });
    if (!hostOk) {
        return std::nullopt;
    }
    address.port = static_cast<std::uint16_t>(port);
    return address;
}

std::string HostAndPort(const NetAddress& address) {
    const bool v6 = address.host.find(':') != std::string::npos;
    return (v6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(address.port);
}

}  // namespace cport::device::net
