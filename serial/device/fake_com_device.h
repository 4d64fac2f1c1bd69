#pragma once
// A device for tests: records every call, plays scripted input and events,
// and fails any call with a chosen error number. Transfers end at once
// (reads take what the script holds), unless transfers are held, in which
// case they stay pending until ReleaseTransfers. Events work for real, so a
// port's waits and its event thread behave as over a device.
// Any thread; the test thread may script while another thread waits.

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "serial/device/arrival_marks.h"
#include "serial/device/com_device.h"

namespace cport::device {

class FakeComDevice final : public ComDevice {
  public:
    // --- scripting (test side) ---
    // Every later call of `function` (e.g. "WriteFile") fails with `error`;
    // `times` limits it to that many calls (-1: until ClearFailures).
    void FailCall(const std::string& function, int error, int times = -1);
    void ClearFailures();
    // Bytes that reads will return, in order, arrived now or at `time` (and
    // not before `earliest`, when given).
    void PushInput(const std::string& bytes);
    void PushInputAt(const std::string& bytes, const LineTime& time,
                     const LineTime& earliest = {});
    // A line event for TakeLineEvents; raises EV_LINEEVENT.
    void PushLineEvent(const LineEvent& event);
    // The kernel's counts GetLineCounters gives (none: "not available").
    void SetKernelCounters(const std::optional<LineCounters::Kernel>& counts);
    // Events for WaitCommEvent (filtered by the mask, as a driver would).
    void RaiseEvents(std::uint32_t mask);
    void SetModemStatus(std::uint32_t msBits);
    // CE_* bits for the next ClearCommError.
    void AddLineErrors(std::uint32_t ceBits);
    // While held, ReadFile/WriteFile return ERROR_IO_PENDING.
    void HoldTransfers(bool hold);
    void ReleaseTransfers();

    // --- inspection ---
    // "Name(arguments)" for every call in order, e.g. "SetupComm(1024,1024)".
    std::vector<std::string> Calls() const;
    int CallCount(const std::string& function) const;
    std::string Written() const;
    std::string OpenedName() const;
    DCB LastDcb() const;
    COMMTIMEOUTS LastTimeouts() const;
    std::uint32_t Mask() const;
    std::size_t OpenEvents() const;  // events created and not closed
    bool DeviceOpen() const;
    // SERIAL_DTR_STATE / SERIAL_RTS_STATE as the device holds them: off when
    // opened, then set by SetCommState's DTR/RTS control (as a driver does)
    // and by EscapeCommFunction.
    std::uint32_t OutputLines() const;
    bool BreakOn() const;

    // --- ComDevice --- (the time-line queries are not recorded in Calls:
    // they are no steps of the contract)
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

  private:
    struct Held {
        bool read;
        std::uint8_t* in;
        const std::uint8_t* out;
        std::uint32_t count;
        OVERLAPPED* ov;
        LineTime handed;
    };

    // Records the call; true (with the error set) when it is to fail.
    bool Failing(const std::string& function, const std::string& arguments);
    bool ValidDevice(ComHandle device);
    bool EventKnown(ComHandle event) const;
    void Finish(OVERLAPPED* ov, int status, std::uint32_t transferred);
    void DeliverLocked();
    std::uint32_t TakeInput(std::uint8_t* into, std::uint32_t count);
    void NoteWritten(std::uint32_t count, const LineTime& handed);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> calls_;
    std::map<std::string, int> failures_;  // function -> error; count in failTimes_
    std::map<std::string, int> failTimes_;
    std::map<std::intptr_t, bool> events_;  // handle -> set
    std::intptr_t next_ = 1;
    std::intptr_t device_ = 0;  // 0: none open
    std::string opened_;
    std::string input_;
    std::string written_;
    DCB dcb_;
    COMMTIMEOUTS timeouts_;
    std::uint32_t mask_ = 0;
    std::uint32_t raised_ = 0;
    std::uint32_t modem_ = 0;
    std::uint32_t errors_ = 0;
    std::uint32_t outputLines_ = 0;  // SERIAL_*_STATE
    bool breakOn_ = false;
    bool hold_ = false;
    std::vector<Held> held_;
    std::uint32_t* waitMask_ = nullptr;
    OVERLAPPED* waitOv_ = nullptr;

    LineClock clock_;
    ArrivalMarks marks_;
    std::optional<TransferTimes> lastRead_;
    std::optional<TransferTimes> lastWrite_;
    std::vector<LineEvent> lineEvents_;
    std::optional<LineCounters::Kernel> kernel_;
    std::uint64_t received_ = 0;
    std::uint64_t sent_ = 0;
};

}  // namespace cport::device
