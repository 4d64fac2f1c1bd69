#pragma once
// TCustomComPort: one serial line's complete configuration and, through the
// operations filled in by the device side, the open line itself.
//
// A QObject: its owner is the QObject parent, its component name the
// objectName, and `destroyed` tells others it is going away. It owns its four
// settings sub-objects. Main thread only, unless an operation says otherwise.
//
// Setter rule: a setter given the stored value does nothing; otherwise it
// stores the value and, while the port is open and not loading, hands its
// whole settings group (line settings, time-outs or buffer sizes) to the
// device at once. A device refusal raises EComPort (codes 7, 8, 9); the value
// stays stored and the port stays open. Setters that depart from the rule say so.

#include <QObject>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/text.h"
#include "serial/port/com_types.h"
#include "serial/device/comm_records.h"
#include "serial/device/time_line.h"
#include "serial/ports/awaited_device.h"

namespace tarvik {
class MessageWindow;
}

namespace cport {

namespace device {
class ComDevice;
}
class TComThread;
class TComEventWatch;
struct TPendingIo;

class TComBuffer;
class TComFlowControl;
class TComParity;
class TComSettingsObject;
class TComTimeouts;
class TIniFile;
class TRegistry;
class TLineReturnWatcher;

// A line event with its time (serial/device/time_line.h); Sender is the port.
using TLineEventHandler = std::function<void(QObject* Sender, const LineEvent& Event)>;

class TCustomComPort : public QObject {
    Q_OBJECT

  public:
    explicit TCustomComPort(QObject* owner = nullptr);
    // Closes the port if it is open, then releases the sub-objects. When
    // Close fails part-way the event thread is still stopped and the device
    // closed; the error goes nowhere (no exception leaves a destructor).
    ~TCustomComPort() override;

    // --- Loading: while the owner's description is read, setters only store.
    bool Loading() const { return loading_; }
    void BeginLoading() { loading_ = true; }
    // Ends the loading state, then runs AfterLoad (which opens the port if
    // Connected was stored as true).
    void EndLoading();

    // --- Settings.
    bool Connected() const { return connected_; }
    // While loading: stored only. Otherwise a change calls Open or Close;
    // their errors propagate.
    void SetConnected(bool value);

    TBaudRate BaudRate() const { return baudRate_; }
    void SetBaudRate(TBaudRate value);

    // The device name as the user sees it ("COM1", "ttyUSB0", "/dev/ttyACM0").
    const tarvik::Text& Port() const { return port_; }
    // Compared exactly (case matters). On an open port (not loading) the
    // port is closed and opened again under the new name; if that open fails
    // the error propagates, the new name stays and the port is left closed.
    void SetPort(const tarvik::Text& value);

    // The sub-objects stay the port's own; the setters copy the given
    // object's settings in (EAssignError for another class, nothing changed)
    // and then always re-apply the group, without comparing.
    TComParity& Parity() { return *parity_; }
    const TComParity& Parity() const { return *parity_; }
    void SetParity(const TComSettingsObject& value);

    TStopBits StopBits() const { return stopBits_; }
    void SetStopBits(TStopBits value);

    TDataBits DataBits() const { return dataBits_; }
    void SetDataBits(TDataBits value);

    // The driver drops received NUL bytes.
    bool DiscardNull() const { return discardNull_; }
    void SetDiscardNull(bool value);

    // Its arrival raises evRxFlag.
    char EventChar() const { return eventChar_; }
    void SetEventChar(char value);

    // Stored only; the set takes effect at the next Open.
    TComEvents Events() const { return events_; }
    void SetEvents(TComEvents value);

    TComBuffer& Buffer() { return *buffer_; }
    const TComBuffer& Buffer() const { return *buffer_; }
    void SetBuffer(const TComSettingsObject& value);

    TComFlowControl& FlowControl() { return *flowControl_; }
    const TComFlowControl& FlowControl() const { return *flowControl_; }
    void SetFlowControl(const TComSettingsObject& value);

    TComTimeouts& Timeouts() { return *timeouts_; }
    const TComTimeouts& Timeouts() const { return *timeouts_; }
    void SetTimeouts(const TComSettingsObject& value);

    TSyncMethod SyncMethod() const { return syncMethod_; }
    // Refused while open (not loading) with EComPort code 14; nothing changes.
    void SetSyncMethod(TSyncMethod value);

    // Off by default. On: the port has no event thread; the main thread's
    // event loop watches the device itself and runs the report steps on the
    // main thread as soon as it wakes (SyncMethod does not apply then), which
    // saves a wake-up and a hand-over per arrival. For a program whose main
    // thread does little but serve the port. A device that cannot be watched
    // from an event loop, or a port opened off the main thread, gets the
    // thread all the same. Stored only; it takes effect at the next Open.
    bool ServedByEventLoop() const { return servedByEventLoop_; }
    void SetServedByEventLoop(bool value) { servedByEventLoop_ = value; }

    // Bits per second handed to the device while BaudRate is brCustom.
    std::int32_t CustomBaudRate() const { return customBaudRate_; }
    void SetCustomBaudRate(std::int32_t value);

    // The groups settings storage writes and reads; stored only.
    TStoredGroups StoredGroups() const { return storedGroups_; }
    void SetStoredGroups(TStoredGroups value) { storedGroups_ = value; }

    // --- Settings storage (com_storage.cpp): the keys of the groups in
    // StoredGroups, written to or read from a store the caller has opened
    // and closes. The ini section is the component name (objectName).
    // Loading applies each key through its ordinary setter before reading
    // the next, so an open port reacts as each setter says; the ini file is
    // checked whole before the first key is applied. Errors of the store
    // (ERegistryException, EIniFileError) and of the setters propagate.
    virtual void StoreRegistry(TRegistry& Reg);
    virtual void StoreIniFile(TIniFile& IniFile);
    virtual void LoadRegistry(TRegistry& Reg);
    virtual void LoadIniFile(TIniFile& IniFile);

    // --- Event handlers, all unset at first; called on the thread SyncMethod names.
    const TNotifyEvent& OnAfterOpen() const { return onAfterOpen_; }
    void SetOnAfterOpen(TNotifyEvent handler) { onAfterOpen_ = std::move(handler); }
    const TNotifyEvent& OnAfterClose() const { return onAfterClose_; }
    void SetOnAfterClose(TNotifyEvent handler) { onAfterClose_ = std::move(handler); }
    const TNotifyEvent& OnBeforeOpen() const { return onBeforeOpen_; }
    void SetOnBeforeOpen(TNotifyEvent handler) { onBeforeOpen_ = std::move(handler); }
    const TNotifyEvent& OnBeforeClose() const { return onBeforeClose_; }
    void SetOnBeforeClose(TNotifyEvent handler) { onBeforeClose_ = std::move(handler); }
    const TRxCharEvent& OnRxChar() const { return onRxChar_; }
    void SetOnRxChar(TRxCharEvent handler) { onRxChar_ = std::move(handler); }
    // Stored but never called: arrivals are reported through OnRxChar only.
    const TRxBufEvent& OnRxBuf() const { return onRxBuf_; }
    void SetOnRxBuf(TRxBufEvent handler) { onRxBuf_ = std::move(handler); }
    const TNotifyEvent& OnTxEmpty() const { return onTxEmpty_; }
    void SetOnTxEmpty(TNotifyEvent handler) { onTxEmpty_ = std::move(handler); }
    const TNotifyEvent& OnBreak() const { return onBreak_; }
    void SetOnBreak(TNotifyEvent handler) { onBreak_ = std::move(handler); }
    const TNotifyEvent& OnRing() const { return onRing_; }
    void SetOnRing(TNotifyEvent handler) { onRing_ = std::move(handler); }
    const TComSignalEvent& OnCTSChange() const { return onCTSChange_; }
    void SetOnCTSChange(TComSignalEvent handler) { onCTSChange_ = std::move(handler); }
    const TComSignalEvent& OnDSRChange() const { return onDSRChange_; }
    void SetOnDSRChange(TComSignalEvent handler) { onDSRChange_ = std::move(handler); }
    const TComSignalEvent& OnRLSDChange() const { return onRLSDChange_; }
    void SetOnRLSDChange(TComSignalEvent handler) { onRLSDChange_ = std::move(handler); }
    const TNotifyEvent& OnRxFlag() const { return onRxFlag_; }
    void SetOnRxFlag(TNotifyEvent handler) { onRxFlag_ = std::move(handler); }
    const TComErrorEvent& OnError() const { return onError_; }
    void SetOnError(TComErrorEvent handler) { onError_ = std::move(handler); }
    const TNotifyEvent& OnRx80Full() const { return onRx80Full_; }
    void SetOnRx80Full(TNotifyEvent handler) { onRx80Full_ = std::move(handler); }

    // --- Opening and closing. Open does nothing on an open port, Close
    // nothing on a closed one. Close of a lost line whose device is already
    // released (ReopenOnReturn, waiting for the return) has no transfer to
    // abort and skips that step.
    virtual void Open();
    virtual void Close();

    // --- The device. The port calls nothing but this interface: the POSIX
    // implementation unless another is given (tests give a fake). Not owned;
    // it must outlive the port. Change it only while the port is closed.
    device::ComDevice& Device() const { return *device_; }
    void SetDevice(device::ComDevice& value);
    // The open device; INVALID_HANDLE_VALUE whenever none is open.
    device::ComHandle Handle() const { return handle_; }
    // The event thread; exists only while the port is open with events (and
    // not ServedByEventLoop).
    TComThread* EventThread() const { return eventThread_.get(); }
    // The event loop's watch in the thread's place (ServedByEventLoop).
    TComEventWatch* EventWatch() const { return eventWatch_.get(); }

    // --- Transfers and line control. Each acts on Handle whatever it holds
    // (callers check Connected) and raises EComPort with the system's error
    // number when the device refuses. Counts are bytes; a transfer is bounded
    // only by Timeouts. The calling thread blocks until its transfer ends.
    // The main thread, or the event thread under smNone: one read and one
    // write may be outstanding at the same time, each on its own record.

    // Sends Count bytes of Buffer; the bytes written (code 2 on failure).
    // A negative Count is refused with code 2 (EINVAL).
    std::int32_t Write(const void* Buffer, std::int32_t Count);
    // Reads up to Count bytes into Buffer; fewer when the read time-outs end
    // the read first (code 3 on failure, 10 when the after-read query fails).
    std::int32_t Read(void* Buffer, std::int32_t Count);
    // As Read, into Text, which afterwards holds exactly the bytes read (and
    // is empty after a failure). Count 0 or less reads nothing and returns 0.
    std::int32_t ReadText(tarvik::Text& Text, std::int32_t Count);
    // As ReadText, but takes only what the device holds now, its queue and
    // what the driver has, without waiting: the read time-outs are set aside
    // for this one read. For whoever must know what has arrived by now.
    std::int32_t ReadWaiting(tarvik::Text& Text, std::int32_t MaxCount);

    // The overlapped form: NewPendingIo, one Begin..., WaitForIo,
    // FreePendingIo. Buffer must stay valid and untouched until WaitForIo has
    // returned for that record. Begin... returns the bytes moved at once (0
    // while pending); an absent record (nullptr) raises code 4.
    std::int32_t BeginWrite(const void* Buffer, std::int32_t Count, TPendingIo* Io);
    std::int32_t BeginRead(void* Buffer, std::int32_t Count, TPendingIo* Io);
    // Text is resized to Count (zero bytes); Count 0 or less starts nothing.
    std::int32_t BeginReadText(tarvik::Text& Text, std::int32_t Count, TPendingIo* Io);
    // Waits without a time limit of its own; the bytes the transfer moved.
    // A record that never carried a transfer returns 0 at once.
    std::int32_t WaitForIo(TPendingIo* Io);
    // A new record with its completion event (code 6 when none can be made).
    void NewPendingIo(TPendingIo*& Io);
    // Closes the record's event and releases it; Io becomes nullptr. Does
    // nothing for nullptr.
    void FreePendingIo(TPendingIo*& Io);

    // Ends every pending read and write at once (code 5).
    void AbortIo();
    // Received bytes waiting in the input queue; clears the line-error state
    // (code 10).
    std::int32_t BytesWaiting();
    // The modem input lines that are on (code 11).
    TModemSignals ModemSignals();
    // The line errors since the last query, which clears them; a parity
    // error only while Parity.Check is on (code 10).
    TComErrors ReadLineErrors();

    // --- Output lines and break (com_port_lines.cpp). Like the transfers,
    // each acts on Handle on the calling thread. A refusal raises EComPort
    // code 12 with the system's number, a failed read-back code 11; ENOTTY
    // (25) means the device has no modem lines or no break, as on a
    // pseudo-terminal. Opening switches no line by itself: DTR and RTS follow
    // ControlDTR and ControlRTS whenever the line settings are handed over
    // (Open, and every re-apply after a setter), so a line set here keeps
    // its state only until then.
    void SetDTR(bool OnOff);
    void SetRTS(bool OnOff);
    // The output lines as the driver holds them now.
    bool DTR();
    bool RTS();
    static constexpr std::chrono::milliseconds kDefaultBreak{250};
    // Holds the line in break for Duration, then releases it; the calling
    // thread is blocked that long (the window uses SetBreak with its own timer
    // for long breaks). A negative Duration is refused with code 12 (EINVAL).
    void SendBreak(std::chrono::milliseconds Duration = kDefaultBreak);
    // Holds (true) or releases (false) the break; Close releases a held one.
    void SetBreak(bool OnOff);

    // --- The time line (com_port_time_line.cpp), beside everything above:
    // with OnLineEvent unset and ReopenOnReturn off, the port behaves as if
    // it were not there. Times are taken by the device layer on the thread
    // that read or wrote the driver (time_line.h says which clocks).

    // The times of the last read (Read, ReadText, or a WaitForIo of a read)
    // or write that completed on the open device, whichever thread ran it:
    // the arrival of the first and the last byte read; when a write was
    // handed to the driver and when it completed. Zero times (Valid() false)
    // when none has completed since Open, or the port is closed. Any thread;
    // costs no system call.
    TransferTimes LastReadTimes() const;
    TransferTimes LastWriteTimes() const;
    // Bytes received and sent since Open, and the kernel's line counts where
    // the driver keeps them (LineCounters::kernel empty: "not available").
    // All zero on a closed port. Main thread.
    LineCounters Counters() const;

    // Line events, each with its time: modem lines (CTS, DSR, DCD, RI) with
    // their new state, breaks and line errors with their counts, "opened",
    // "closed", "line lost" (once per loss) and "back". Set before Open: a
    // port opened with a handler (or ReopenOnReturn) has an event thread even
    // when Events is empty, and asks its device for line events. Called
    // where SyncMethod says, after that wake-up's other handlers; "opened"
    // and "closed" from Open and Close on the main thread. A device that
    // cannot tell (a pseudo-terminal) sends kNoLineEvents once per open.
    const TLineEventHandler& OnLineEvent() const { return onLineEvent_; }
    void SetOnLineEvent(TLineEventHandler handler) { onLineEvent_ = std::move(handler); }

    // Off by default. On: once the line is lost, the port watches for the
    // device's return (without polling: inotify on the folder of its
    // /dev/serial/by-id name where it has one, else of its path, taken at
    // Open) and opens it again with the same settings, then sends "back".
    // Only the same device (AwaitedDevice): the same USB vendor, product and
    // serial number; through a link, the link made again; never another
    // device that took the old name (a pseudo-terminal by its own name is
    // never opened again).
    // A network port (rfc2217://, socket://) connects again instead, after
    // a pause that doubles from 250 ms to 8 s while the server stays away.
    // Until then the port stays Connected, transfers fail, and Close works
    // at once. Main thread; set it before Open.
    bool ReopenOnReturn() const { return reopenOnReturn_; }
    void SetReopenOnReturn(bool value) { reopenOnReturn_ = value; }
    // The line was lost and has not come back. Main thread.
    bool LineLost() const { return lineLost_; }
    // The signature of the RFC 2217 server an open network port reaches;
    // empty for every other port.
    std::string ServerSignature() const;
    // The path the port watches for the device's return (empty before Open).
    const std::string& ReturnPath() const { return awaited_.path; }
    // What the port waits for once the line is lost, in words for a log
    // ("waiting for the link /tmp/dev to be made again"); "" before Open.
    std::string AwaitedReturn() const;

  protected:
    // --- Opening and closing steps.
    virtual void OpenDevice();
    virtual void CloseDevice();
    // ApplyBuffer, ApplyDCB, ApplyTimeouts in this order; called by Open only.
    virtual void ApplySettings();
    void SetHandle(device::ComHandle value) { handle_ = value; }

    // --- Event delivery: the steps that frame opening and closing, and the
    // event thread with its notification window.
    void ReportBeforeOpen();
    void ReportAfterOpen();
    void ReportBeforeClose();
    void ReportAfterClose();
    // Creates the notification window (smWindowSync) and the event thread
    // (or the event loop's watch) when Events is not empty or line events are
    // wanted; DestroyEventThread stops and releases them.
    void CreateEventThread();
    void DestroyEventThread();

    // The report steps: each gathers what its handler needs from the device
    // and calls its notify operation. They run where SyncMethod says (the
    // main thread, or the event thread under smNone). Failures of the device
    // queries raise EComPort: code 10 from ReportRxChar and ReportError, 11
    // from the three signal steps.
    // OnRxChar with the bytes waiting, only when there are any.
    void ReportRxChar();
    void ReportTxEmpty();
    void ReportRxFlag();
    void ReportRing();
    void ReportBreak();
    // Each reads the modem lines anew.
    void ReportCTSChange();
    void ReportDSRChange();
    void ReportRLSDChange();
    // OnError with the line errors (reading them clears them), only when there are any.
    void ReportError();
    void ReportRx80Full();
    // Open: the three signal steps, each reading the line. Not open: the
    // three signal handlers with false, without reading the line.
    void ReportSignals(bool Open);
    // The report step of one event.
    void ReportEvent(TComEvent event);
    // The report steps of one wake-up: each event's in the fixed order, then
    // the line events (lineNews), while the port stays connected.
    void ReportWakeUp(TComEvents events, bool lineNews);
    // The line events the device gathered, each to OnLineEvent; a "line
    // lost" among them starts the watch for the device's return.
    void ReportLineEvents();
    // Whether the device is asked for line events (decided at Open).
    bool WantsLineEvents() const { return onLineEvent_ || reopenOnReturn_; }

    // The notification window's procedure (main thread): CM_COMEVENT
    // releases the sender at once, then runs the report step named by wParam
    // (an event's mask bit) while the port is connected. Every error is
    // handed to the application's error handler; none leaves. Other messages
    // get the default handling.
    std::intptr_t NotifyWindowProc(std::uint32_t message, std::uintptr_t wParam,
                                   std::intptr_t lParam);

    // Hand one settings group to the device; each does nothing unless the
    // port is open and not loading. Raise EComPort 7, 8, 9 on refusal.
    virtual void ApplyDCB();
    virtual void ApplyTimeouts();
    virtual void ApplyBuffer();

    // Runs when the loading state ends.
    virtual void AfterLoad();

    // Each calls its handler (NotifyRxChar calls OnRxChar) with Sender = this,
    // if one is set.
    virtual void NotifyAfterClose();
    virtual void NotifyAfterOpen();
    virtual void NotifyBeforeClose();
    virtual void NotifyBeforeOpen();
    virtual void NotifyRxChar(std::int32_t Count);
    virtual void NotifyTxEmpty();
    virtual void NotifyBreak();
    virtual void NotifyRing();
    virtual void NotifyRxFlag();
    virtual void NotifyCTSChange(bool OnOff);
    virtual void NotifyDSRChange(bool OnOff);
    virtual void NotifyError(TComErrors Errors);
    virtual void NotifyRLSDChange(bool OnOff);
    virtual void NotifyRx80Full();
    virtual void NotifyLineEvent(const LineEvent& Event);

    // For Open and Close: the state Connected reports.
    void SetConnectedState(bool value) { connected_ = value; }
    // True when a changed setting must reach the device now.
    bool AppliesSettings() const { return connected_ && !loading_; }

  private:
    // The completion event of a Write that is waiting for the line while the
    // main thread serves its event loop; null otherwise.
    const device::ComHandle* writeInProgress_ = nullptr;
    friend class TComSettingsObject;
    friend class TComThread;  // its setters re-apply through the three below
    friend class TComEventWatch;

    // Destruction's way out when Close fails: stops the event thread and
    // closes the device without raising.
    void ReleaseAfterFailedClose() noexcept;

    // The time line's part of Open and Close.
    void NoteOpened();
    void NoteClosed();
    // Main thread, queued after a "line lost": tries the device's return path
    // once, and watches for it while it is not back.
    void TryReopen();
    // A network port's next attempt to connect again (com_port_time_line.cpp).
    void RetryConnectLater();

    // The setter rule's third step for each group.
    void ReapplyDCB();
    void ReapplyTimeouts();
    void ReapplyBuffer();

    bool connected_ = false;
    bool loading_ = false;
    device::ComDevice* device_;
    device::ComHandle handle_ = device::INVALID_HANDLE_VALUE;
    std::unique_ptr<TComThread> eventThread_;
    std::unique_ptr<TComEventWatch> eventWatch_;
    bool servedByEventLoop_ = false;
    std::unique_ptr<tarvik::MessageWindow> notifyWindow_;
    TBaudRate baudRate_ = br9600;
    tarvik::Text port_ = "COM1";
    std::unique_ptr<TComParity> parity_;
    TStopBits stopBits_ = sbOneStopBit;
    TDataBits dataBits_ = dbEight;
    bool discardNull_ = false;
    char eventChar_ = '\0';
    TComEvents events_ = kAllComEvents;
    std::unique_ptr<TComFlowControl> flowControl_;
    std::unique_ptr<TComTimeouts> timeouts_;
    std::unique_ptr<TComBuffer> buffer_;
    TSyncMethod syncMethod_ = smThreadSync;
    std::int32_t customBaudRate_ = 9600;
    TStoredGroups storedGroups_{sgBasic};

    TNotifyEvent onAfterOpen_;
    TNotifyEvent onAfterClose_;
    TNotifyEvent onBeforeOpen_;
    TNotifyEvent onBeforeClose_;
    TRxCharEvent onRxChar_;
    TRxBufEvent onRxBuf_;
    TNotifyEvent onTxEmpty_;
    TNotifyEvent onBreak_;
    TNotifyEvent onRing_;
    TComSignalEvent onCTSChange_;
    TComSignalEvent onDSRChange_;
    TComSignalEvent onRLSDChange_;
    TNotifyEvent onRxFlag_;
    TComErrorEvent onError_;
    TNotifyEvent onRx80Full_;

    TLineEventHandler onLineEvent_;
    bool reopenOnReturn_ = false;
    // Written where the report steps run (the event thread under smNone).
    std::atomic<bool> lineLost_{false};
    AwaitedDevice awaited_;
    std::unique_ptr<TLineReturnWatcher> returnWatcher_;
    std::unique_ptr<QTimer> returnTimer_;
    std::chrono::milliseconds returnPause_{0};
    LineClock clock_;
};

}  // namespace cport
