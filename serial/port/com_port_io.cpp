// Transfers and line queries of TCustomComPort. Every transfer is overlapped:
// started on a record, then waited for; the blocking forms release their
// record before any error leaves them.

#include <cerrno>
#include <memory>
#include <vector>

#include "serial/error/com_error.h"
#include "serial/port/com_parity.h"
#include "serial/port/custom_com_port.h"
#include "serial/port/dcb_builder.h"
#include "serial/device/com_device.h"
#include "serial/port/pending_io.h"
#include "serial/port/write_wait.h"

namespace cport {

namespace {

using namespace device;

std::int32_t TransferCode(TIoKind kind) {
    return kind == ikWrite ? ecWrite : ecRead;
}

// Frees the record on every way out of a blocking transfer.
class RecordGuard {
  public:
    RecordGuard(TCustomComPort& port, TPendingIo*& io) : port_(port), io_(io) {}
    ~RecordGuard() { port_.FreePendingIo(io_); }
    RecordGuard(const RecordGuard&) = delete;
    RecordGuard& operator=(const RecordGuard&) = delete;

  private:
    TCustomComPort& port_;
    TPendingIo*& io_;
};

}  // namespace

std::int32_t TCustomComPort::Write(const void* Buffer, std::int32_t Count) {
    // Writes go out one after the other, also when a handler run during a
    // long write (below) writes again: the later one waits its turn.
    int error = 0;
    if (writeInProgress_ != nullptr)
        ServeEventsUntilSet(Device(), *writeInProgress_, &error);  // its failure is its own
    TPendingIo* io = nullptr;
    NewPendingIo(io);
    RecordGuard guard(*this, io);
    // Our own copy: handlers that run while the write waits may refill the
    // caller's buffer (the codec's, for one).
    const auto* bytes = static_cast<const std::uint8_t*>(Buffer);
    const std::vector<std::uint8_t> copy(bytes, bytes + (Count > 0 && Buffer ? Count : 0));
    BeginWrite(copy.data(), Count, io);
    if (io->Started) {
        // A line that does not take the bytes holds the write for up to its
        // time-out (tens of seconds with the window's); the window goes on
        // answering meanwhile.
        const ComHandle device = Handle();
        const ComHandle event = io->Overlapped.hEvent;
        struct Restore {
            const ComHandle*& slot;
            const ComHandle* before;
            ~Restore() { slot = before; }
        } restore{writeInProgress_, writeInProgress_};
        writeInProgress_ = &event;
        const std::uint32_t result = ServeEventsUntilSet(Device(), event, &error);
        // Closed meanwhile: Close ended the write.
        if (Handle() != device)
            throw EComPort(ecWrite, ECANCELED);
        if (result != WAIT_OBJECT_0) {
            // As WaitForIo does: end the transfer before its record goes.
            Device().PurgeComm(Handle(), PURGE_TXABORT);
            io->Started = false;
            throw EComPort(ecWrite, error);
        }
    }
    return WaitForIo(io);
}

std::int32_t TCustomComPort::Read(void* Buffer, std::int32_t Count) {
    TPendingIo* io = nullptr;
    NewPendingIo(io);
    RecordGuard guard(*this, io);
    BeginRead(Buffer, Count, io);
    return WaitForIo(io);
}

std::int32_t TCustomComPort::ReadText(tarvik::Text& Text, std::int32_t Count) {
    TPendingIo* io = nullptr;
    NewPendingIo(io);
    RecordGuard guard(*this, io);
    try {
        BeginReadText(Text, Count, io);
        const std::int32_t n = WaitForIo(io);
        Text.resize(static_cast<std::size_t>(n));
        return n;
    } catch (...) {
        // A failed read delivered no bytes; the zeros it was given are not data.
        Text.clear();
        throw;
    }
}

std::int32_t TCustomComPort::ReadWaiting(tarvik::Text& Text, std::int32_t MaxCount) {
    const device::COMMTIMEOUTS own = BuildCommTimeouts(Timeouts());
    device::COMMTIMEOUTS atOnce = own;
    atOnce.ReadIntervalTimeout = device::MAXDWORD;  // with both totals 0: take what is there
    atOnce.ReadTotalTimeoutMultiplier = 0;
    atOnce.ReadTotalTimeoutConstant = 0;
    if (!Device().SetCommTimeouts(Handle(), atOnce))
        throw EComPort(ecSetTimeouts, Device().GetLastError());
    struct Restore {
        TCustomComPort& port;
        const device::COMMTIMEOUTS& timeouts;
        ~Restore() { port.Device().SetCommTimeouts(port.Handle(), timeouts); }
    } restore{*this, own};
    return ReadText(Text, MaxCount);
}

std::int32_t TCustomComPort::BeginWrite(const void* Buffer, std::int32_t Count, TPendingIo* Io) {
    if (Io == nullptr)
        throw EComPort(ecInvalidAsync);
    Io->Kind = ikWrite;
    // The device takes an unsigned count: a negative one would read far past
    // the buffer.
    if (Count < 0)
        throw EComPort(ecWrite, EINVAL);
    Io->Started = true;
    std::uint32_t written = 0;
    if (!Device().WriteFile(Handle(), Buffer, static_cast<std::uint32_t>(Count), &written,
                            &Io->Overlapped)) {
        const int error = Device().GetLastError();
        if (error != ERROR_IO_PENDING) {
            Io->Started = false;
            throw EComPort(ecWrite, error);
        }
    }
    return static_cast<std::int32_t>(written);
}

std::int32_t TCustomComPort::BeginRead(void* Buffer, std::int32_t Count, TPendingIo* Io) {
    if (Io == nullptr)
        throw EComPort(ecInvalidAsync);
    Io->Kind = ikRead;
    if (Count < 0)
        throw EComPort(ecRead, EINVAL);
    Io->Started = true;
    std::uint32_t read = 0;
    if (!Device().ReadFile(Handle(), Buffer, static_cast<std::uint32_t>(Count), &read,
                           &Io->Overlapped)) {
        const int error = Device().GetLastError();
        if (error != ERROR_IO_PENDING) {
            Io->Started = false;
            throw EComPort(ecRead, error);
        }
    }
    return static_cast<std::int32_t>(read);
}

std::int32_t TCustomComPort::BeginReadText(tarvik::Text& Text, std::int32_t Count, TPendingIo* Io) {
    // Zeros rather than what the text held: on a short read only the bytes
    // received count, and nothing stale is ever handed back.
    Text.assign(Count > 0 ? static_cast<std::size_t>(Count) : 0, '\0');
    if (Count <= 0)
        return 0;
    return BeginRead(Text.data(), Count, Io);
}

std::int32_t TCustomComPort::WaitForIo(TPendingIo* Io) {
    if (Io == nullptr)
        throw EComPort(ecInvalidAsync);
    // A record that never carried a transfer (ReadText with a count of 0) has
    // nothing to wait for and nothing to ask a device that may not be open.
    if (!Io->Started)
        return 0;
    const std::int32_t code = TransferCode(Io->Kind);
    if (Device().WaitForSingleObject(Io->Overlapped.hEvent, INFINITE) != WAIT_OBJECT_0) {
        const int error = Device().GetLastError();
        // The transfer may still be running into the caller's buffer, which
        // is released once this error leaves: end it first.
        Device().PurgeComm(Handle(), Io->Kind == ikWrite ? PURGE_TXABORT : PURGE_RXABORT);
        Io->Started = false;
        throw EComPort(code, error);
    }
    Io->Started = false;
    std::uint32_t transferred = 0;
    if (!Device().GetOverlappedResult(Handle(), &Io->Overlapped, &transferred, false))
        throw EComPort(code, Device().GetLastError());
    // The count is not needed: the call clears the line-error state the read
    // may have left.
    if (Io->Kind == ikRead)
        BytesWaiting();
    return static_cast<std::int32_t>(transferred);
}

void TCustomComPort::NewPendingIo(TPendingIo*& Io) {
    auto record = std::make_unique<TPendingIo>();
    record->Overlapped.hEvent = Device().CreateEventA(true, true);
    if (record->Overlapped.hEvent == INVALID_HANDLE_VALUE)
        throw EComPort(ecAsyncStatus, Device().GetLastError());
    Io = record.release();
}

void TCustomComPort::FreePendingIo(TPendingIo*& Io) {
    if (Io == nullptr)
        return;
    // Closing an event this record created cannot fail in a way the caller
    // could act on; it runs while another error may be on its way out.
    Device().CloseHandle(Io->Overlapped.hEvent);
    delete Io;
    Io = nullptr;
}

void TCustomComPort::AbortIo() {
    if (!Device().PurgeComm(Handle(), PURGE_TXABORT | PURGE_RXABORT))
        throw EComPort(ecPurge, Device().GetLastError());
}

std::int32_t TCustomComPort::BytesWaiting() {
    std::uint32_t errors = 0;
    COMSTAT status;
    if (!Device().ClearCommError(Handle(), &errors, &status))
        throw EComPort(ecClearError, Device().GetLastError());
    return static_cast<std::int32_t>(status.cbInQue);
}

TModemSignals TCustomComPort::ModemSignals() {
    std::uint32_t bits = 0;
    if (!Device().GetCommModemStatus(Handle(), &bits))
        throw EComPort(ecModemStatus, Device().GetLastError());
    TModemSignals lines;
    if ((bits & MS_CTS_ON) != 0)
        lines.Include(msCTS);
    if ((bits & MS_DSR_ON) != 0)
        lines.Include(msDSR);
    if ((bits & MS_RING_ON) != 0)
        lines.Include(msRing);
    if ((bits & MS_RLSD_ON) != 0)
        lines.Include(msRLSD);
    return lines;
}

TComErrors TCustomComPort::ReadLineErrors() {
    std::uint32_t word = 0;
    COMSTAT status;
    if (!Device().ClearCommError(Handle(), &word, &status))
        throw EComPort(ecClearError, Device().GetLastError());
    static constexpr struct {
        std::uint32_t bit;
        TComError error;
    } kErrors[] = {{CE_FRAME, ceFrame},     {CE_RXPARITY, ceRxParity},
                   {CE_OVERRUN, ceOverrun}, {CE_BREAK, ceBreak},
                   {CE_IOE, ceIO},          {CE_MODE, ceMode},
                   {CE_RXOVER, ceRxOver},   {CE_TXFULL, ceTxFull}};
    TComErrors errors;
    for (const auto& entry : kErrors) {
        if ((word & entry.bit) != 0)
            errors.Include(entry.error);
    }
    // The driver reports parity errors whatever the setting; they count only
    // while the port checks parity.
    if (!Parity().Check())
        errors.Exclude(ceRxParity);
    return errors;
}

}  // namespace cport
