#include "tests/serial/event_port.h"

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <stdexcept>

#include "base/main_thread.h"
#include "serial/port/com_os_values.h"
#include "serial/port/com_timeouts.h"

namespace cport::testutil {

using namespace device;

std::string EventPort::ReadBytes(std::int32_t count) {
    std::string bytes;
    ReadText(bytes, count);
    return bytes;
}

void EventPort::WriteBytes(const std::string& bytes) {
    if (Write(bytes.data(), static_cast<std::int32_t>(bytes.size())) !=
        static_cast<std::int32_t>(bytes.size()))
        throw EComPort(ecWrite, -1);
}

void Recorder::Add(const std::string& call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(call);
    if (!tarvik::IsMainThread())
        ++offMain_;
}

void Recorder::AddReceived(const std::string& bytes) {
    std::lock_guard lock(mutex_);
    received_ += bytes;
}

std::string Recorder::Received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

std::vector<std::string> Recorder::Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

std::size_t Recorder::Size() const {
    std::lock_guard lock(mutex_);
    return calls_.size();
}

std::size_t Recorder::OffMainThread() const {
    std::lock_guard lock(mutex_);
    return offMain_;
}

void Recorder::Clear() {
    std::lock_guard lock(mutex_);
    calls_.clear();
    received_.clear();
    offMain_ = 0;
}

void RecordAll(EventPort& port, Recorder& recorder) {
    Recorder* r = &recorder;
    const auto notify = [r](const char* name) { return [r, name](QObject*) { r->Add(name); }; };
    const auto signal = [r](const char* name) {
        return [r, name](QObject*, bool on) { r->Add(std::string(name) + (on ? " 1" : " 0")); };
    };
    port.SetOnBeforeOpen(notify("BeforeOpen"));
    port.SetOnAfterOpen(notify("AfterOpen"));
    port.SetOnBeforeClose(notify("BeforeClose"));
    port.SetOnAfterClose(notify("AfterClose"));
    port.SetOnTxEmpty(notify("TxEmpty"));
    port.SetOnBreak(notify("Break"));
    port.SetOnRing(notify("Ring"));
    port.SetOnRxFlag(notify("RxFlag"));
    port.SetOnRx80Full(notify("Rx80Full"));
    port.SetOnCTSChange(signal("CTS"));
    port.SetOnDSRChange(signal("DSR"));
    port.SetOnRLSDChange(signal("RLSD"));
    port.SetOnError([r](QObject*, TComErrors errors) {
        char text[16];
        std::snprintf(text, sizeof text, "Error 0x%02x", errors.ToBits());
        r->Add(text);
    });
    EventPort* p = &port;
    port.SetOnRxChar([r, p](QObject*, std::int32_t count) {
        r->Add("RxChar " + std::to_string(count));
        r->AddReceived(p->ReadBytes(count));
    });
}

Pty::Pty() {
    int slave = -1;
    char name[256];
    if (openpty(&master_, &slave, name, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty");
    // The port opens the slave by its path; this side only needs the master.
    ::close(slave);
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    path_ = name;
}

Pty::~Pty() {
    HangUp();
}

void Pty::Write(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n < 0)
            throw std::runtime_error("write to the pty master");
        done += static_cast<std::size_t>(n);
    }
}

void Pty::HangUp() {
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

long VoluntarySwitches(pid_t tid) {
    std::ifstream status("/proc/self/task/" + std::to_string(tid) + "/status");
    std::string line;
    const std::string key = "voluntary_ctxt_switches:";
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0)
            return std::stol(line.substr(key.size()));
    }
    return -1;
}

long long ThreadCpuNs(pid_t tid) {
    // The kernel's per-thread CPU clock for any thread of the process:
    // MAKE_THREAD_CPUCLOCK(tid, CPUCLOCK_SCHED).
    const clockid_t clock = static_cast<clockid_t>((~static_cast<unsigned>(tid) << 3) | 6);
    timespec now{};
    if (clock_gettime(clock, &now) != 0)
        return -1;
    return static_cast<long long>(now.tv_sec) * 1'000'000'000LL + now.tv_nsec;
}

}  // namespace cport::testutil
