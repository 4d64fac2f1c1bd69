#include "serial/device/net/resolve.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <string_view>
#include <thread>
#include <utility>

#include "serial/device/net/net_address.h"

namespace cport::device::net {

namespace {

// What the lookup's thread hands back; shared, so that whichever side ends
// last frees it.
struct Answer {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    int rc = 0;
    int systemError = 0;
    addrinfo* found = nullptr;
    ~Answer() {
        if (found != nullptr)
            freeaddrinfo(found);
    }
};

bool UnderInvalid(std::string_view host) {
    if (!host.empty() && host.back() == '.')
        host.remove_suffix(1);
    constexpr std::string_view kInvalid = "invalid";
    if (host.size() < kInvalid.size())
        return false;
    const std::string_view tail = host.substr(host.size() - kInvalid.size());
    const bool same = std::equal(tail.begin(), tail.end(), kInvalid.begin(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == b;
    });
    return same &&
           (host.size() == kInvalid.size() || host[host.size() - kInvalid.size() - 1] == '.');
}

}  // namespace

int SystemLookup(const std::string& host, const std::string& service, addrinfo** found) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    return getaddrinfo(host.c_str(), service.c_str(), &hints, found);
}

AddrInfoList ResolveWithin(const std::string& host, std::uint16_t port,
                           std::chrono::milliseconds limit, int* error, const HostLookup& lookup) {
    *error = kNameNotResolved;
    if (UnderInvalid(host))
        return nullptr;
    auto answer = std::make_shared<Answer>();
    std::thread([answer, lookup, host, service = std::to_string(port)] {
        addrinfo* found = nullptr;
        const int rc = lookup(host, service, &found);
        const int systemError = errno;
        const std::lock_guard lock(answer->mutex);
        answer->rc = rc;
        answer->systemError = systemError;
        answer->found = rc == 0 ? found : nullptr;
        answer->finished = true;
        answer->done.notify_all();
    }).detach();
    std::unique_lock lock(answer->mutex);
    if (!answer->done.wait_for(lock, limit, [&] { return answer->finished; }))
        return nullptr;  // the thread ends on its own and frees what it found
    if (answer->rc != 0) {
        if (answer->rc == EAI_SYSTEM && answer->systemError != 0)
            *error = answer->systemError;
        return nullptr;
    }
    *error = 0;
    return AddrInfoList(std::exchange(answer->found, nullptr));
}

}  // namespace cport::device::net
