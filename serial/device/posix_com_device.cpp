#include "serial/device/posix_com_device.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <vector>

#include "serial/device/net/net_address.h"
#include "serial/device/port_name.h"
#include "serial/device/posix_event.h"
#include "serial/device/posix_port.h"

namespace cport::device {

namespace {

thread_local int lastError = 0;

bool Fail(int error) {
    lastError = error;
    return false;
}

bool Result(int error) {
    if (error != 0) {
        lastError = error;
        return false;
    }
    return true;
}

constexpr std::uint32_t kMostWaitObjects = 64;

}  // namespace

PosixComDevice::~PosixComDevice() {
    std::unordered_map<std::intptr_t, Object> objects;
    {
        std::lock_guard lock(mutex_);
        objects.swap(objects_);
    }
    for (auto& [handle, object] : objects) {
        if (auto* port = std::get_if<std::shared_ptr<PosixPort>>(&object)) {
            (*port)->Close();
        }
    }
}

PosixComDevice& PosixComDevice::Instance() {
    static PosixComDevice device;
    return device;
}

ComHandle PosixComDevice::Add(Object object) {
    std::lock_guard lock(mutex_);
    const std::intptr_t handle = next_++;
    objects_.emplace(handle, std::move(object));
    return ComHandle{handle};
}

std::shared_ptr<PosixPort> PosixComDevice::Port(ComHandle handle) {
    std::lock_guard lock(mutex_);
    const auto it = objects_.find(static_cast<std::intptr_t>(handle));
    if (it == objects_.end()) {
        return nullptr;
    }
    auto* port = std::get_if<std::shared_ptr<PosixPort>>(&it->second);
    return port != nullptr ? *port : nullptr;
}

std::shared_ptr<PosixEvent> PosixComDevice::Event(ComHandle handle) {
    std::lock_guard lock(mutex_);
    const auto it = objects_.find(static_cast<std::intptr_t>(handle));
    if (it == objects_.end()) {
        return nullptr;
    }
    auto* event = std::get_if<std::shared_ptr<PosixEvent>>(&it->second);
    return event != nullptr ? *event : nullptr;
}

ComHandle PosixComDevice::CreateFileA(const std::string& portName) {
    int error = 0;
    std::shared_ptr<PosixPort> port;
    if (net::IsNetworkPortName(portName)) {
        const auto address = net::ParseNetAddress(portName);
        error = net::kBadNetworkName;
        if (address) {
            port = PosixPort::OpenNetwork(*address, &error);
        }
    } else {
        port = PosixPort::Open(DevicePath(portName), &error);
    }
    if (!port) {
        lastError = error;
        return INVALID_HANDLE_VALUE;
    }
    return Add(std::move(port));
}

bool PosixComDevice::CloseHandle(ComHandle handle) {
    Object object;
    {
        std::lock_guard lock(mutex_);
        const auto it = objects_.find(static_cast<std::intptr_t>(handle));
        if (it == objects_.end()) {
            return Fail(EBADF);
        }
        object = std::move(it->second);
        objects_.erase(it);
    }
    if (auto* port = std::get_if<std::shared_ptr<PosixPort>>(&object)) {
        (*port)->Close();
    }
    return true;
}

bool PosixComDevice::SetupComm(ComHandle device, std::uint32_t inQueue, std::uint32_t outQueue) {
    auto port = Port(device);
    return port ? Result(port->SetupComm(inQueue, outQueue)) : Fail(EBADF);
}

bool PosixComDevice::SetCommState(ComHandle device, const DCB& dcb) {
    auto port = Port(device);
    return port ? Result(port->SetCommState(dcb)) : Fail(EBADF);
}

bool PosixComDevice::SetCommTimeouts(ComHandle device, const COMMTIMEOUTS& timeouts) {
    auto port = Port(device);
    return port ? Result(port->SetCommTimeouts(timeouts)) : Fail(EBADF);
}

bool PosixComDevice::SetCommMask(ComHandle device, std::uint32_t mask) {
    auto port = Port(device);
    return port ? Result(port->SetCommMask(mask)) : Fail(EBADF);
}

bool PosixComDevice::Started(int result) {
    // ERROR_IO_PENDING is reported like a failure, as the contract has it.
    return Result(result);
}

bool PosixComDevice::WaitCommEvent(ComHandle device, std::uint32_t* eventMask,
                                   OVERLAPPED* overlapped) {
    auto port = Port(device);
    if (!port) {
        return Fail(EBADF);
    }
    auto event = Event(overlapped->hEvent);
    if (!event) {
        return Fail(EINVAL);
    }
    return Started(port->WaitCommEvent(eventMask, overlapped, std::move(event)));
}

bool PosixComDevice::ReadFile(ComHandle device, void* buffer, std::uint32_t count,
                              std::uint32_t* done, OVERLAPPED* overlapped) {
    *done = 0;
    auto port = Port(device);
    if (!port) {
        return Fail(EBADF);
    }
    auto event = Event(overlapped->hEvent);
    if (!event) {
        return Fail(EINVAL);
    }
    return Started(port->ReadFile(buffer, count, done, overlapped, std::move(event)));
}

bool PosixComDevice::WriteFile(ComHandle device, const void* buffer, std::uint32_t count,
                               std::uint32_t* done, OVERLAPPED* overlapped) {
    *done = 0;
    auto port = Port(device);
    if (!port) {
        return Fail(EBADF);
    }
    auto event = Event(overlapped->hEvent);
    if (!event) {
        return Fail(EINVAL);
    }
    return Started(port->WriteFile(buffer, count, done, overlapped, std::move(event)));
}

bool PosixComDevice::GetOverlappedResult(ComHandle device, OVERLAPPED* overlapped,
                                         std::uint32_t* transferred, bool wait) {
    *transferred = 0;
    auto port = Port(device);
    if (!port) {
        return Fail(EBADF);
    }
    if (wait && WaitForSingleObject(overlapped->hEvent, INFINITE) == WAIT_FAILED) {
        return false;
    }
    return Result(port->OverlappedResult(overlapped, transferred));
}

bool PosixComDevice::PurgeComm(ComHandle device, std::uint32_t flags) {
    auto port = Port(device);
    return port ? Result(port->PurgeComm(flags)) : Fail(EBADF);
}

bool PosixComDevice::ClearCommError(ComHandle device, std::uint32_t* errors, COMSTAT* status) {
    auto port = Port(device);
    return port ? Result(port->ClearCommError(errors, status)) : Fail(EBADF);
}

bool PosixComDevice::GetCommModemStatus(ComHandle device, std::uint32_t* modemStatus) {
    auto port = Port(device);
    return port ? Result(port->GetCommModemStatus(modemStatus)) : Fail(EBADF);
}

bool PosixComDevice::EscapeCommFunction(ComHandle device, std::uint32_t function) {
    auto port = Port(device);
    return port ? Result(port->EscapeCommFunction(function)) : Fail(EBADF);
}

bool PosixComDevice::GetCommOutputLines(ComHandle device, std::uint32_t* lines) {
    *lines = 0;
    auto port = Port(device);
    return port ? Result(port->GetCommOutputLines(lines)) : Fail(EBADF);
}

ComHandle PosixComDevice::CreateEventA(bool manualReset, bool initialState) {
    // Every event of the port is manual-reset; an automatic one is not offered.
    if (!manualReset) {
        lastError = EINVAL;
        return INVALID_HANDLE_VALUE;
    }
    return Add(std::make_shared<PosixEvent>(initialState));
}

bool PosixComDevice::SetEvent(ComHandle handle) {
    auto event = Event(handle);
    if (!event) {
        return Fail(EBADF);
    }
    event->Set();
    return true;
}

bool PosixComDevice::ResetEvent(ComHandle handle) {
    auto event = Event(handle);
    if (!event) {
        return Fail(EBADF);
    }
    event->Reset();
    return true;
}

std::uint32_t PosixComDevice::WaitForSingleObject(ComHandle event, std::uint32_t timeoutMs) {
    return WaitForMultipleObjects(1, &event, false, timeoutMs);
}

namespace {

// The events a waiter has begun to poll; ended however the wait ends.
class Polling {
  public:
    explicit Polling(std::vector<std::shared_ptr<PosixEvent>>& events) : events_(events) {}
    ~Polling() { End(); }
    Polling(const Polling&) = delete;
    Polling& operator=(const Polling&) = delete;

    // Appends each event's descriptor to fds; false with errno when one has
    // none to give.
    bool Begin(std::vector<pollfd>& fds) {
        for (auto& event : events_) {
            const int fd = event->BeginPoll();
            if (fd < 0) {
                return false;
            }
            ++begun_;
            fds.push_back({fd, POLLIN, 0});
        }
        return true;
    }
    void End() {
        for (std::size_t i = 0; i < begun_; ++i) {
            events_[i]->EndPoll();
        }
        begun_ = 0;
    }

  private:
    std::vector<std::shared_ptr<PosixEvent>>& events_;
    std::size_t begun_ = 0;
};

}  // namespace

std::uint32_t PosixComDevice::WaitForMultipleObjects(std::uint32_t count, const ComHandle* handles,
                                                     bool waitAll, std::uint32_t timeoutMs) {
    if (waitAll || count == 0 || count > kMostWaitObjects) {
        lastError = EINVAL;
        return WAIT_FAILED;
    }
    std::vector<std::shared_ptr<PosixEvent>> events;
    events.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        auto event = Event(handles[i]);
        if (!event) {
            lastError = EBADF;
            return WAIT_FAILED;
        }
        events.push_back(std::move(event));
    }
    const auto firstSet = [&]() -> std::optional<std::uint32_t> {
        for (std::uint32_t i = 0; i < count; ++i) {
            if (events[i]->IsSet()) {
                return WAIT_OBJECT_0 + i;
            }
        }
        return std::nullopt;
    };
    // The usual case of a transfer that completed when it was started.
    if (const auto set = firstSet()) {
        return *set;
    }
    std::optional<SteadyClock::time_point> until;
    if (timeoutMs != INFINITE) {
        until = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    }
    // The devices whose transfers will set these events are moved on by this
    // waiter: their news, time-outs and drain checks. Whoever started or last
    // touched a transfer has serviced its device, so a device needs this
    // waiter only once its descriptor reports news or a deadline falls due.
    std::vector<std::shared_ptr<PosixPort>> ports;
    std::vector<pollfd> fds;
    for (;;) {
        ports.clear();
        for (auto& event : events) {
            if (auto port = event->Bound();
                port && std::find(ports.begin(), ports.end(), port) == ports.end()) {
                ports.push_back(std::move(port));
            }
        }
        auto next = until;
        for (auto& port : ports) {
            if (const auto due = port->NextDeadline(); due && (!next || *due < *next)) {
                next = due;
            }
        }
        const auto now = SteadyClock::now();
        if (until && now >= *until) {
            // A last look, so that a wait without time gives what is there.
            for (auto& port : ports) {
                port->Service();
            }
            return firstSet().value_or(WAIT_TIMEOUT);
        }
        fds.clear();
        Polling polling(events);
        if (!polling.Begin(fds)) {
            lastError = errno;
            return WAIT_FAILED;
        }
        // Set before the descriptors were handed out: nothing to sleep for.
        if (const auto set = firstSet()) {
            return *set;
        }
        for (auto& port : ports) {
            fds.push_back({port->WaitFd(), POLLIN, 0});
        }
        timespec pause{};
        timespec* pauseAt = nullptr;
        if (next) {
            const auto left =
                std::max(std::chrono::nanoseconds(0), std::chrono::nanoseconds(*next - now));
            pause.tv_sec = static_cast<time_t>(left.count() / 1000000000);
            pause.tv_nsec = static_cast<long>(left.count() % 1000000000);
            pauseAt = &pause;
        }
        if (ppoll(fds.data(), fds.size(), pauseAt, nullptr) < 0 && errno != EINTR) {
            lastError = errno;
            return WAIT_FAILED;
        }
        polling.End();
        const auto woke = SteadyClock::now();
        for (std::size_t i = 0; i < ports.size(); ++i) {
            const auto due = ports[i]->NextDeadline();
            if (fds[count + i].revents != 0 || (due && *due <= woke)) {
                ports[i]->Service();
            }
        }
        if (const auto set = firstSet()) {
            return *set;
        }
    }
}

bool PosixComDevice::GetServerSignature(ComHandle device, std::string* signature) {
    signature->clear();
    auto port = Port(device);
    return port ? Result(port->ServerSignature(signature)) : Fail(EBADF);
}

bool PosixComDevice::BeginEventWatch(ComHandle event, ComHandle device, EventWatch* watch) {
    *watch = {};
    auto port = Port(device);
    auto watched = Event(event);
    if (!port || !watched) {
        return Fail(EBADF);
    }
    // A poller for as long as the watch lasts: every Set from now on, by
    // whichever thread, makes the descriptor readable.
    const int fd = watched->BeginPoll();
    if (fd < 0) {
        return Fail(errno);
    }
    *watch = {fd, port->WaitFd()};
    return true;
}

bool PosixComDevice::EndEventWatch(ComHandle event) {
    auto watched = Event(event);
    if (!watched) {
        return Fail(EBADF);
    }
    watched->EndPoll();
    return true;
}

bool PosixComDevice::GetWaitDue(ComHandle device, std::int64_t* dueInUs) {
    *dueInUs = -1;
    auto port = Port(device);
    if (!port) {
        return Fail(EBADF);
    }
    if (const auto due = port->NextDeadline()) {
        const auto left = std::chrono::ceil<std::chrono::microseconds>(*due - SteadyClock::now());
        *dueInUs = std::max<std::int64_t>(left.count(), 0);
    }
    return true;
}

int PosixComDevice::GetLastError() {
    return lastError;
}

bool PosixComDevice::GetTransferTimes(ComHandle device, bool write, TransferTimes* times) {
    auto port = Port(device);
    return port ? Result(port->GetTransferTimes(write, times)) : Fail(EBADF);
}

bool PosixComDevice::TakeLineEvents(ComHandle device, std::vector<LineEvent>* events) {
    auto port = Port(device);
    return port ? Result(port->TakeLineEvents(events)) : Fail(EBADF);
}

bool PosixComDevice::GetLineCounters(ComHandle device, LineCounters* counters) {
    auto port = Port(device);
    return port ? Result(port->GetLineCounters(counters)) : Fail(EBADF);
}

}  // namespace cport::device
