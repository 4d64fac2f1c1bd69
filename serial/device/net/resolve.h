#pragma once
// A host name looked up within a time limit. getaddrinfo has no limit of its
// own: a name server that does not answer holds it for the resolver's whole
// round of retries, far longer than a connect may take. So the lookup runs on
// a thread of its own, which is left to finish alone when the limit passes.

#include <netdb.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace cport::device::net {

// How a name is looked up: getaddrinfo's contract (0 and *found, or an EAI_
// code). May block; runs on the lookup's own thread.
using HostLookup =
    std::function<int(const std::string& host, const std::string& service, addrinfo** found)>;

// getaddrinfo for TCP, any address family.
int SystemLookup(const std::string& host, const std::string& service, addrinfo** found);

struct AddrInfoFree {
    void operator()(addrinfo* list) const { freeaddrinfo(list); }
};
using AddrInfoList = std::unique_ptr<addrinfo, AddrInfoFree>;

// The addresses of `host`, or nullptr with *error: kNameNotResolved when the
// name has no address, or no answer came within `limit`; else errno. Names
// under ".invalid" never have one and are refused without asking.
AddrInfoList ResolveWithin(const std::string& host, std::uint16_t port,
                           std::chrono::milliseconds limit, int* error,
                           const HostLookup& lookup = SystemLookup);

}  // namespace cport::device::net
