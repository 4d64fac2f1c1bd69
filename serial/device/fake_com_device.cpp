#include "serial/device/fake_com_device.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace cport::device {

namespace {

thread_local int lastError = 0;

std::string Number(std::uint64_t value) {
    return std::to_string(value);
}

}  // namespace

void FakeComDevice::FailCall(const std::string& function, int error, int times) {
    std::lock_guard lock(mutex_);
    failures_[function] = error;
    failTimes_[function] = times;
}

void FakeComDevice::ClearFailures() {
    std::lock_guard lock(mutex_);
    failures_.clear();
    failTimes_.clear();
}

void FakeComDevice::PushInput(const std::string& bytes) {
    PushInputAt(bytes, LineClock::Raw());
}

void FakeComDevice::PushInputAt(const std::string& bytes, const LineTime& time,
                                const LineTime& earliest) {
    std::lock_guard lock(mutex_);
    input_ += bytes;
    marks_.Pushed(bytes.size(), time, earliest);
}

void FakeComDevice::PushLineEvent(const LineEvent& event) {
    std::lock_guard lock(mutex_);
    lineEvents_.push_back(event);
    raised_ |= EV_LINEEVENT;
    DeliverLocked();
}

void FakeComDevice::SetKernelCounters(const std::optional<LineCounters::Kernel>& counts) {
    std::lock_guard lock(mutex_);
    kernel_ = counts;
}

void FakeComDevice::RaiseEvents(std::uint32_t mask) {
    std::lock_guard lock(mutex_);
    raised_ |= mask;
    DeliverLocked();
}

void FakeComDevice::SetModemStatus(std::uint32_t msBits) {
    std::lock_guard lock(mutex_);
    modem_ = msBits;
}

void FakeComDevice::AddLineErrors(std::uint32_t ceBits) {
    std::lock_guard lock(mutex_);
    errors_ |= ceBits;
}

void FakeComDevice::HoldTransfers(bool hold) {
    std::lock_guard lock(mutex_);
    hold_ = hold;
}

void FakeComDevice::ReleaseTransfers() {
    std::lock_guard lock(mutex_);
    hold_ = false;
    for (const Held& h : held_) {
        if (h.read) {
            Finish(h.ov, 0, TakeInput(h.in, h.count));
        } else {
            written_.append(reinterpret_cast<const char*>(h.out), h.count);
            NoteWritten(h.count, h.handed);
            Finish(h.ov, 0, h.count);
        }
    }
    held_.clear();
}

std::vector<std::string> FakeComDevice::Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

int FakeComDevice::CallCount(const std::string& function) const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count_if(calls_.begin(), calls_.end(), [&](const std::string& c) {
        return c.compare(0, function.size() + 1, function + "(") == 0;
    }));
}

std::string FakeComDevice::Written() const {
    std::lock_guard lock(mutex_);
    return written_;
}

std::string FakeComDevice::OpenedName() const {
    std::lock_guard lock(mutex_);
    return opened_;
}

DCB FakeComDevice::LastDcb() const {
    std::lock_guard lock(mutex_);
    return dcb_;
}

COMMTIMEOUTS FakeComDevice::LastTimeouts() const {
    std::lock_guard lock(mutex_);
    return timeouts_;
}

std::uint32_t FakeComDevice::Mask() const {
    std::lock_guard lock(mutex_);
    return mask_;
}

std::size_t FakeComDevice::OpenEvents() const {
    std::lock_guard lock(mutex_);
    return events_.size();
}

bool FakeComDevice::DeviceOpen() const {
    std::lock_guard lock(mutex_);
    return device_ != 0;
}

bool FakeComDevice::Failing(const std::string& function, const std::string& arguments) {
    calls_.push_back(function + "(" + arguments + ")");
    const auto it = failures_.find(function);
    if (it == failures_.end()) {
        return false;
    }
    lastError = it->second;
    int& times = failTimes_[function];
    if (times > 0 && --times == 0) {
        failures_.erase(function);
        failTimes_.erase(function);
    }
    return true;
}

bool FakeComDevice::ValidDevice(ComHandle device) {
    if (device_ != 0 && static_cast<std::intptr_t>(device) == device_) {
        return true;
    }
    lastError = EBADF;
    return false;
}

bool FakeComDevice::EventKnown(ComHandle event) const {
    return events_.count(static_cast<std::intptr_t>(event)) != 0;
}

void FakeComDevice::Finish(OVERLAPPED* ov, int status, std::uint32_t transferred) {
    ov->Internal = static_cast<std::uintptr_t>(status);
    ov->InternalHigh = transferred;
    const auto it = events_.find(static_cast<std::intptr_t>(ov->hEvent));
    if (it != events_.end()) {
        it->second = true;
    }
    changed_.notify_all();
}

void FakeComDevice::DeliverLocked() {
    if (waitOv_ == nullptr || (raised_ & mask_) == 0) {
        return;
    }
    *waitMask_ = raised_ & mask_;
    raised_ &= ~mask_;
    Finish(waitOv_, 0, 0);
    waitOv_ = nullptr;
    waitMask_ = nullptr;
}

std::uint32_t FakeComDevice::TakeInput(std::uint8_t* into, std::uint32_t count) {
    const std::uint32_t n =
        std::min<std::uint32_t>(count, static_cast<std::uint32_t>(input_.size()));
    if (n > 0) {
        std::memcpy(into, input_.data(), n);
    }
    input_.erase(0, n);
    TransferTimes times;
    marks_.Popped(n, &times.first, &times.last, &times.earliest);
    times.bytes = n;
    // Its queue is its driver: emptied, the line is known quiet from now on.
    if (input_.empty()) {
        times.quiet = LineClock::Raw();
    }
    lastRead_ = times;
    received_ += n;
    return n;
}

void FakeComDevice::NoteWritten(std::uint32_t count, const LineTime& handed) {
    TransferTimes times;
    times.first = handed;
    times.last = LineClock::Raw();
    times.bytes = count;
    lastWrite_ = times;
    sent_ += count;
}

ComHandle FakeComDevice::CreateFileA(const std::string& portName) {
    std::lock_guard lock(mutex_);
    if (Failing("CreateFileA", portName)) {
        return INVALID_HANDLE_VALUE;
    }
    if (device_ != 0) {
        lastError = EBUSY;
        return INVALID_HANDLE_VALUE;
    }
    device_ = next_++;
    opened_ = portName;
    lastRead_.reset();
    lastWrite_.reset();
    lineEvents_.clear();
    received_ = sent_ = 0;
    outputLines_ = 0;
    breakOn_ = false;
    return ComHandle{device_};
}

bool FakeComDevice::CloseHandle(ComHandle handle) {
    std::lock_guard lock(mutex_);
    if (Failing("CloseHandle", Number(static_cast<std::uint64_t>(handle)))) {
        return false;
    }
    const auto h = static_cast<std::intptr_t>(handle);
    if (device_ != 0 && h == device_) {
        device_ = 0;
        for (const Held& held : held_) {
            Finish(held.ov, ECANCELED, 0);
        }
        held_.clear();
        if (waitOv_ != nullptr) {
            Finish(waitOv_, ECANCELED, 0);
            waitOv_ = nullptr;
        }
        return true;
    }
    if (events_.erase(h) != 0) {
        return true;
    }
    lastError = EBADF;
    return false;
}

bool FakeComDevice::SetupComm(ComHandle device, std::uint32_t inQueue, std::uint32_t outQueue) {
    std::lock_guard lock(mutex_);
    if (Failing("SetupComm", Number(inQueue) + "," + Number(outQueue))) {
        return false;
    }
    return ValidDevice(device);
}

bool FakeComDevice::SetCommState(ComHandle device, const DCB& dcb) {
    std::lock_guard lock(mutex_);
    if (Failing("SetCommState", Number(dcb.BaudRate))) {
        return false;
    }
    if (!ValidDevice(device)) {
        return false;
    }
    dcb_ = dcb;
    // As a driver does: the line controls that name a state set it, the
    // handshake and toggle modes leave the line to the driver.
    const std::uint32_t dtr = dcb.Flags & DCB_fDtrControlMask;
    const std::uint32_t rts = dcb.Flags & DCB_fRtsControlMask;
    if (dtr == DTR_CONTROL_ENABLE || dtr == DTR_CONTROL_DISABLE) {
        outputLines_ = dtr == DTR_CONTROL_ENABLE ? outputLines_ | SERIAL_DTR_STATE
                                                 : outputLines_ & ~SERIAL_DTR_STATE;
    }
    if (rts == RTS_CONTROL_ENABLE || rts == RTS_CONTROL_DISABLE) {
        outputLines_ = rts == RTS_CONTROL_ENABLE ? outputLines_ | SERIAL_RTS_STATE
                                                 : outputLines_ & ~SERIAL_RTS_STATE;
    }
    return true;
}

bool FakeComDevice::SetCommTimeouts(ComHandle device, const COMMTIMEOUTS& t) {
    std::lock_guard lock(mutex_);
    if (Failing("SetCommTimeouts", Number(t.ReadIntervalTimeout) + "," +
                                       Number(t.ReadTotalTimeoutMultiplier) + "," +
                                       Number(t.ReadTotalTimeoutConstant) + "," +
                                       Number(t.WriteTotalTimeoutMultiplier) + "," +
                                       Number(t.WriteTotalTimeoutConstant))) {
        return false;
    }
    if (!ValidDevice(device)) {
        return false;
    }
    timeouts_ = t;
    return true;
}

bool FakeComDevice::SetCommMask(ComHandle device, std::uint32_t mask) {
    std::lock_guard lock(mutex_);
    if (Failing("SetCommMask", Number(mask))) {
        return false;
    }
    if (!ValidDevice(device)) {
        return false;
    }
    mask_ = mask;
    if (waitOv_ != nullptr) {
        *waitMask_ = 0;
        Finish(waitOv_, 0, 0);
        waitOv_ = nullptr;
    }
    return true;
}

bool FakeComDevice::WaitCommEvent(ComHandle device, std::uint32_t* eventMask,
                                  OVERLAPPED* overlapped) {
    std::lock_guard lock(mutex_);
    if (Failing("WaitCommEvent", "")) {
        return false;
    }
    if (!ValidDevice(device)) {
        return false;
    }
    if (!EventKnown(overlapped->hEvent) || waitOv_ != nullptr) {
        lastError = EINVAL;
        return false;
    }
    events_[static_cast<std::intptr_t>(overlapped->hEvent)] = false;
    overlapped->Internal = ERROR_IO_PENDING;
    *eventMask = 0;
    waitOv_ = overlapped;
    waitMask_ = eventMask;
    DeliverLocked();
    if (waitOv_ == nullptr) {
        return true;
    }
    lastError = ERROR_IO_PENDING;
    return false;
}

bool FakeComDevice::ReadFile(ComHandle device, void* buffer, std::uint32_t count,
                             std::uint32_t* done, OVERLAPPED* overlapped) {
    std::lock_guard lock(mutex_);
    *done = 0;
    if (Failing("ReadFile", Number(count))) {
        return false;
    }
    if (!ValidDevice(device)) {
        return false;
    }
    if (!EventKnown(overlapped->hEvent)) {
        lastError = EINVAL;
        return false;
    }
    events_[static_cast<std::intptr_t>(overlapped->hEvent)] = false;
    overlapped->Internal = ERROR_IO_PENDING;
    if (hold_) {
        held_.push_back(
            {true, static_cast<std::uint8_t*>(buffer), nullptr, count, overlapped, LineTime{}});
        lastError = ERROR_IO_PENDING;
        return false;
    }
    *done = TakeInput(static_cast<std::uint8_t*>(buffer), count);
    Finish(overlapped, 0, *done);
    return true;
}

bool FakeComDevice::WriteFile(ComHandle device, const void* buffer, std::uint32_t count,
                              std::uint32_t* done, OVERLAPPED* overlapped) {
    std::lock_guard lock(mutex_);
    *done = 0;
    if (Failing("WriteFile", Number(count))) {
        return false;
    }
    if (!ValidDevice(device)) {
        return false;
    }
    if (!EventKnown(overlapped->hEvent)) {
        lastError = EINVAL;
        return false;
    }
    events_[static_cast<std::intptr_t>(overlapped->hEvent)] = false;
    overlapped->Internal = ERROR_IO_PENDING;
    if (hold_) {
        held_.push_back({false, nullptr, static_cast<const std::uint8_t*>(buffer), count,
                         overlapped, LineClock::Raw()});
        lastError = ERROR_IO_PENDING;
        return false;
    }
    if (count > 0) {
        written_.append(static_cast<const char*>(buffer), count);
    }
    NoteWritten(count, LineClock::Raw());
    *done = count;
    Finish(overlapped, 0, count);
    return true;
}

bool FakeComDevice::GetOverlappedResult(ComHandle device, OVERLAPPED* overlapped,
                                        std::uint32_t* transferred, bool wait) {
    std::unique_lock lock(mutex_);
    *transferred = 0;
    if (Failing("GetOverlappedResult", wait ? "wait" : "")) {
        return false;
    }
    if (!ValidDevice(device)) {
        return false;
    }
    if (wait) {
        changed_.wait(lock, [&] { return overlapped->Internal != ERROR_IO_PENDING; });
    }
    if (overlapped->Internal == ERROR_IO_PENDING) {
        lastError = ERROR_IO_INCOMPLETE;
        return false;
    }
    *transferred = static_cast<std::uint32_t>(overlapped->InternalHigh);
    if (overlapped->Internal != 0) {
        lastError = static_cast<int>(overlapped->Internal);
        return false;
    }
    return true;
}

bool FakeComDevice::PurgeComm(ComHandle device, std::uint32_t flags) {
    std::lock_guard lock(mutex_);
    if (Failing("PurgeComm", Number(flags))) {
        return false;
    }
    if (!ValidDevice(device)) {
        return false;
    }
    if ((flags & (PURGE_RXABORT | PURGE_TXABORT)) != 0) {
        auto end = std::remove_if(held_.begin(), held_.end(), [&](const Held& h) {
            const bool abort = h.read ? (flags & PURGE_RXABORT) != 0 : (flags & PURGE_TXABORT) != 0;
            if (abort) {
                Finish(h.ov, ECANCELED, 0);
            }
            return abort;
        });
        held_.erase(end, held_.end());
    }
    if ((flags & PURGE_RXCLEAR) != 0) {
        input_.clear();
        marks_.Clear();
    }
    return true;
}

bool FakeComDevice::ClearCommError(ComHandle device, std::uint32_t* errors, COMSTAT* status) {
    std::lock_guard lock(mutex_);
    if (Failing("ClearCommError", "")) {
        return false;
    }
    if (!ValidDevice(device)) {
        return false;
    }
    *errors = errors_;
    errors_ = 0;
    *status = COMSTAT{};
    status->cbInQue = static_cast<std::uint32_t>(input_.size());
    return true;
}

bool FakeComDevice::GetCommModemStatus(ComHandle device, std::uint32_t* modemStatus) {
    std::lock_guard lock(mutex_);
    *modemStatus = 0;
    if (Failing("GetCommModemStatus", "")) {
        return false;
    }
    if (!ValidDevice(device)) {
        return false;
    }
    *modemStatus = modem_;
    return true;
}

bool FakeComDevice::EscapeCommFunction(ComHandle device, std::uint32_t function) {
    std::lock_guard lock(mutex_);
    if (Failing("EscapeCommFunction", Number(function))) {
        return false;
    }
    if (!ValidDevice(device)) {
        return false;
    }
    switch (function) {
        case SETDTR:
            outputLines_ |= SERIAL_DTR_STATE;
            return true;
        case CLRDTR:
            outputLines_ &= ~SERIAL_DTR_STATE;
            return true;
        case SETRTS:
            outputLines_ |= SERIAL_RTS_STATE;
            return true;
        case CLRRTS:
            outputLines_ &= ~SERIAL_RTS_STATE;
            return true;
        case SETBREAK:
        case CLRBREAK:
            breakOn_ = function == SETBREAK;
            return true;
        default:
            lastError = EINVAL;
            return false;
    }
}

bool FakeComDevice::GetCommOutputLines(ComHandle device, std::uint32_t* lines) {
    std::lock_guard lock(mutex_);
    *lines = 0;
    if (Failing("GetCommOutputLines", "")) {
        return false;
    }
    if (!ValidDevice(device)) {
        return false;
    }
    *lines = outputLines_;
    return true;
}

std::uint32_t FakeComDevice::OutputLines() const {
    std::lock_guard lock(mutex_);
    return outputLines_;
}

bool FakeComDevice::BreakOn() const {
    std::lock_guard lock(mutex_);
    return breakOn_;
}

ComHandle FakeComDevice::CreateEventA(bool manualReset, bool initialState) {
    std::lock_guard lock(mutex_);
    if (Failing("CreateEventA", std::string(manualReset ? "manual" : "auto") + "," +
                                    (initialState ? "set" : "reset"))) {
        return INVALID_HANDLE_VALUE;
    }
    const std::intptr_t h = next_++;
    events_[h] = initialState;
    return ComHandle{h};
}

bool FakeComDevice::SetEvent(ComHandle event) {
    std::lock_guard lock(mutex_);
    if (Failing("SetEvent", Number(static_cast<std::uint64_t>(event)))) {
        return false;
    }
    const auto it = events_.find(static_cast<std::intptr_t>(event));
    if (it == events_.end()) {
        lastError = EBADF;
        return false;
    }
    it->second = true;
    changed_.notify_all();
    return true;
}

bool FakeComDevice::ResetEvent(ComHandle event) {
    std::lock_guard lock(mutex_);
    if (Failing("ResetEvent", Number(static_cast<std::uint64_t>(event)))) {
        return false;
    }
    const auto it = events_.find(static_cast<std::intptr_t>(event));
    if (it == events_.end()) {
        lastError = EBADF;
        return false;
    }
    it->second = false;
    return true;
}

std::uint32_t FakeComDevice::WaitForSingleObject(ComHandle event, std::uint32_t timeoutMs) {
    {
        std::lock_guard lock(mutex_);
        if (Failing("WaitForSingleObject", Number(timeoutMs))) {
            return WAIT_FAILED;
        }
    }
    return WaitForMultipleObjects(1, &event, false, timeoutMs);
}

std::uint32_t FakeComDevice::WaitForMultipleObjects(std::uint32_t count, const ComHandle* handles,
                                                    bool waitAll, std::uint32_t timeoutMs) {
    std::unique_lock lock(mutex_);
    if (count != 1 && Failing("WaitForMultipleObjects", Number(count))) {
        return WAIT_FAILED;
    }
    if (waitAll || count == 0) {
        lastError = EINVAL;
        return WAIT_FAILED;
    }
    std::uint32_t result = WAIT_FAILED;
    const auto ready = [&] {
        for (std::uint32_t i = 0; i < count; ++i) {
            const auto it = events_.find(static_cast<std::intptr_t>(handles[i]));
            if (it == events_.end()) {
                lastError = EBADF;
                result = WAIT_FAILED;
                return true;
            }
            if (it->second) {
                result = WAIT_OBJECT_0 + i;
                return true;
            }
        }
        return false;
    };
    if (timeoutMs == INFINITE) {
        changed_.wait(lock, ready);
        return result;
    }
    if (!changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
        return WAIT_TIMEOUT;
    }
    return result;
}

int FakeComDevice::GetLastError() {
    return lastError;
}

}  // namespace cport::device

namespace cport::device {

bool FakeComDevice::GetTransferTimes(ComHandle device, bool write, TransferTimes* times) {
    std::lock_guard lock(mutex_);
    if (!ValidDevice(device)) {
        return false;
    }
    const auto& last = write ? lastWrite_ : lastRead_;
    if (!last) {
        lastError = ENOENT;
        return false;
    }
    *times = *last;
    return true;
}

bool FakeComDevice::TakeLineEvents(ComHandle device, std::vector<LineEvent>* events) {
    std::lock_guard lock(mutex_);
    if (!ValidDevice(device)) {
        return false;
    }
    events->clear();
    events->swap(lineEvents_);
    return true;
}

bool FakeComDevice::GetLineCounters(ComHandle device, LineCounters* counters) {
    std::lock_guard lock(mutex_);
    if (!ValidDevice(device)) {
        return false;
    }
    *counters = LineCounters{};
    counters->received = received_;
    counters->sent = sent_;
    counters->kernel = kernel_;
    return true;
}

}  // namespace cport::device
