#pragma once
// The device interface over Linux terminals: termios2, epoll, eventfd and the
// serial ioctls. Handles name open devices and events of this object. See
// ComDevice for the contract; the Linux specifics:
//  - Last-error numbers are errno values (EBADF for an unknown handle,
//    ECANCELED for a transfer ended by PurgeComm or CloseHandle).
//  - SetCommState refuses (EINVAL) what Linux cannot do and what the device
//    did not take when read back; on a pseudo-terminal, which has no line,
//    data size and parity are accepted without effect.
//  - The device has an input queue of SetupComm's size, filled whenever
//    someone starts, queries or waits for something on the device; a full
//    queue leaves further bytes in the kernel (no loss).
//  - Breaks and line errors are noticed from the driver's counters, with the
//    next arrival or modem-line change; a device without counters reports none.
// Any thread.

#include <memory>
#include <mutex>
#include <unordered_map>
#include <variant>

#include "serial/device/com_device.h"

namespace cport::device {

class PosixEvent;
class PosixPort;

class PosixComDevice final : public ComDevice {
  public:
    PosixComDevice() = default;
    // Closes whatever is still open.
    ~PosixComDevice() override;

    // The one the program uses.
    static PosixComDevice& Instance();

    ComHandle CreateFileA(const std::string& portName) override;
    bool CloseHandle(ComHandle handle) override;
    bool SetupComm(ComHandle device, std::uint32_t inQueue, std::uint32_t outQueue) override;
    bool SetCommState(ComHandle device, const DCB& dcb) override;
    bool SetCommTimeouts(ComHandle device, const COMMTIMEOUTS& timeouts) override;
    bool SetCommMask(ComHandle device, std::uint32_t mask) override;
    bool WaitCommEvent(ComHandle device, std::uint32_t* eventMask, OVERLAPPED* overlapped) override;
    bool ReadFile(ComHandle device, void* buffer, std::uint32_t count, std::uint32_t* done,
                  OVERLAPPED* overlapped) override;
    bool WriteFile(ComHandle device, const void* buffer, std::uint32_t count, std::uint32_t* done,
                   OVERLAPPED* overlapped) override;
    bool GetOverlappedResult(ComHandle device, OVERLAPPED* overlapped, std::uint32_t* transferred,
                             bool wait) override;
    bool PurgeComm(ComHandle device, std::uint32_t flags) override;
    bool ClearCommError(ComHandle device, std::uint32_t* errors, COMSTAT* status) override;
    bool GetCommModemStatus(ComHandle device, std::uint32_t* modemStatus) override;
    bool EscapeCommFunction(ComHandle device, std::uint32_t function) override;
    bool GetCommOutputLines(ComHandle device, std::uint32_t* lines) override;
    ComHandle CreateEventA(bool manualReset, bool initialState) override;
    bool SetEvent(ComHandle event) override;
    bool ResetEvent(ComHandle event) override;
    std::uint32_t WaitForSingleObject(ComHandle event, std::uint32_t timeoutMs) override;
    std::uint32_t WaitForMultipleObjects(std::uint32_t count, const ComHandle* events, bool waitAll,
                                         std::uint32_t timeoutMs) override;
    int GetLastError() override;
    bool GetTransferTimes(ComHandle device, bool write, TransferTimes* times) override;
    bool TakeLineEvents(ComHandle device, std::vector<LineEvent>* events) override;
    bool GetLineCounters(ComHandle device, LineCounters* counters) override;
    bool GetServerSignature(ComHandle device, std::string* signature) override;
    bool BeginEventWatch(ComHandle event, ComHandle device, EventWatch* watch) override;
    bool EndEventWatch(ComHandle event) override;
    bool GetWaitDue(ComHandle device, std::int64_t* dueInUs) override;

  private:
    using Object = std::variant<std::shared_ptr<PosixPort>, std::shared_ptr<PosixEvent>>;

    ComHandle Add(Object object);
    std::shared_ptr<PosixPort> Port(ComHandle handle);
    std::shared_ptr<PosixEvent> Event(ComHandle handle);
    // Starts a transfer: returns true when it ended at once with success.
    bool Started(int result);

    std::mutex mutex_;
    std::unordered_map<std::intptr_t, Object> objects_;
    std::intptr_t next_ = 1;
};

}  // namespace cport::device
