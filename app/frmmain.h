#pragma once
// The program's one window. Controls keep the generic names they have in the
// window's description (BitBtn1..8, RX1..4, ...); each concern lives in a
// source file of its own:
//   frmmain.cpp           creation, Clear all, page change, the About picture
//   frmmain_layout.cpp    every control with its place, caption, state and tab order
//   frmmain_checksum.cpp  SUM and BCC
//   frmmain_programs.cpp  Cal and Notepad
//   frmmain_port.cpp      the port object C1, its selectors, Start, Stop, the timer box
//   frmmain_send.cpp      Send, the command source, the send history, the timer tick
//   frmmain_command_line.cpp  Enter, a double click on the history, the command line's menu
//   frmmain_receive.cpp   the receive log
//   frmmain_menu.cpp      the lists' context menu: load, save, copy, paste, clear
//   frmmain_find.cpp      Ctrl+F, F3 and Shift+F3: the find bar of the receive logs
//   frmmain_line.cpp      the line page: more port settings, the log options, the
//                         port's state and counters (also at the top row's right end)
//   frmmain_timeline.cpp  what the log options add to the logs: times, framed
//                         messages, sent blocks, line events
//   frmmain_sequences.cpp the sequences page: named sends on buttons and
//                         keys, receive rules that answer what arrives
// Handlers are connected through Guarded (app/guarded.h), so that an error
// they raise goes straight to the default error handler; the user's commands
// through Command, which first shows every line that has arrived.
// Owned by main(); the window owns every control (QObject parent).
// Main thread only, like every widget.

#include <QSize>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/file_dialog.h"
#include "app/guarded.h"
#include "app/line_list.h"
#include "app/line_options.h"
#include "app/timer.h"
#include "base/text.h"
#include "capture/capture_writer.h"
#include "samples/sample_format.h"
#include "sequences/rule_matcher.h"
#include "sequences/sequence_set.h"
#include "serial/port/com_types.h"
#include "serial/device/time_line.h"
#include "timeline/framing.h"
#include "timeline/timestamp.h"
#include "transfer/engine.h"

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QModelIndex;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QScrollArea;
class QShortcut;
class QTabWidget;
class QTableWidget;

namespace cport {
class TComComboBox;
class TComPort;
class TPortWatcher;
enum class TPortWatchSource;
}  // namespace cport

namespace tarvik {

class TFindBar;
class TPlotWindow;
class TImage;
class TPopupMenu;
class TTransferDialog;
class TTransferRun;

class Tfrmmain : public QWidget {
    Q_OBJECT

  public:
    explicit Tfrmmain(QWidget* parent = nullptr);
    // `portArgument`: a port name or path from the program's command line
    // ("" for none). It joins the port list and becomes C1's initial Port.
    // Building raises when the port list cannot be read (EComPort code 23).
    Tfrmmain(QWidget* parent, const Text& portArgument);
    // `options`: the line page's options from the command line; port
    // settings among them are C1's initial ones.
    Tfrmmain(QWidget* parent, const Text& portArgument, const TLineOptions& options);
    ~Tfrmmain() override;

    // --- the serial port, owned by the window; closed at start ---
    // Null once destroyed (the window never destroys it before its own end).
    cport::TComPort* C1 = nullptr;

    // --- top row ---
    // The three port selectors, bound to C1, tab orders 0..2.
    cport::TComComboBox* ComComboBox1 = nullptr;  // cpPort
    cport::TComComboBox* ComComboBox3 = nullptr;  // cpParity
    cport::TComComboBox* ComComboBox2 = nullptr;  // cpBaudRate
    QLabel* Image3 = nullptr;                     // 16 x 16 picture beside the timer box
    QCheckBox* CheckBox1 = nullptr;               // "&Timer(ms):", unticked
    QLineEdit* Edit1 = nullptr;                   // timer interval in ms, "300"
    QCheckBox* CheckBox2 = nullptr;               // "ASC&II", ticked

    // --- button row ---
    QPushButton* BitBtn2 = nullptr;  // "&Start", enabled
    QPushButton* BitBtn3 = nullptr;  // "Sto&p", disabled; Esc presses it while enabled
    QPushButton* BitBtn1 = nullptr;  // "S&end", disabled
    QPushButton* BitBtn4 = nullptr;  // "SU&M"
    QPushButton* BitBtn5 = nullptr;  // "&BCC"
    QPushButton* BitBtn6 = nullptr;  // "&Cal"
    QPushButton* BitBtn7 = nullptr;  // "&Notepad"
    QPushButton* BitBtn8 = nullptr;  // "Clear &all"

    // --- command line and history ---
    QRadioButton* RadioButton1 = nullptr;  // command source: the command line (selected)
    QComboBox* ComboBox1 = nullptr;        // the command line, editable, empty list
    QRadioButton* RadioButton2 = nullptr;  // command source: the history
    TLineList* TX1 = nullptr;              // send history, newest first

    // --- pages ---
    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;  // "Rx &1"
    QWidget* TabSheet2 = nullptr;  // "Rx &2"
    QWidget* TabSheet3 = nullptr;  // "Rx &3"
    QWidget* TabSheet4 = nullptr;  // "Rx &4"
    QWidget* TabSheet5 = nullptr;  // "ASCII"
    QWidget* TabSheet6 = nullptr;  // "ASCII Extend"
    QWidget* TabSheet7 = nullptr;  // "Help"
    QWidget* TabSheet8 = nullptr;  // "About"
    TLineList* RX1 = nullptr;      // extended selection
    TLineList* RX2 = nullptr;
    TLineList* RX3 = nullptr;
    TLineList* RX4 = nullptr;
    QScrollArea* ScrollBox1 = nullptr;
    QLabel* Image1 = nullptr;  // code table 0..127, decoded when its page is first shown
    QScrollArea* ScrollBox2 = nullptr;
    QLabel* Image2 = nullptr;         // code table 128..255, likewise
    QPlainTextEdit* Memo1 = nullptr;  // the help text, read-only
    QFrame* Panel1 = nullptr;         // the About page
    QLabel* Label1 = nullptr;         // "Tarvik 2"
    TImage* Image5 = nullptr;         // clicked five times, shows Label20
    QLabel* Label3 = nullptr;         // credit line
    QLabel* Label2 = nullptr;         // ownership notice along the bottom edge
    QLabel* Label20 = nullptr;        // the hidden picture, invisible at start

    // --- the line page, after "About" ---
    QWidget* TabSheet9 = nullptr;                 // "&Line"
    cport::TComComboBox* ComComboBox4 = nullptr;  // cpDataBits, bound to C1
    cport::TComComboBox* ComComboBox5 = nullptr;  // cpStopBits, bound to C1
    cport::TComComboBox* ComComboBox6 = nullptr;  // cpFlowControl, bound to C1
    QLineEdit* Edit2 = nullptr;      // a custom baud rate, taken with Enter; empty at start
    QComboBox* ComboBox2 = nullptr;  // timestamps: Off, time of day, since previous, since Start
    QCheckBox* CheckBox3 = nullptr;  // sent blocks in the log, unticked
    QComboBox* ComboBox3 =
        nullptr;                 // one line per message: per arrival, gap auto, gap ms, end byte
    QLineEdit* Edit3 = nullptr;  // the gap in ms, "10"
    QComboBox* ComboBox4 = nullptr;  // the end byte, editable: "CR", "LF" or the notation
    QCheckBox* CheckBox4 = nullptr;  // line events in the log, unticked
    QLabel* Label22 = nullptr;       // bytes received and sent, the rate, line errors
    // Lamps of the modem input lines, set at Start and by the port's events.
    QLabel* Label23 = nullptr;  // CTS
    QLabel* Label24 = nullptr;  // DSR
    QLabel* Label25 = nullptr;  // DCD
    QLabel* Label26 = nullptr;  // RI
    // Line control on the open port: the output lines and a break pulse.
    QCheckBox* CheckBox5 = nullptr;  // DTR, disabled while closed or without modem lines
    QCheckBox* CheckBox6 = nullptr;  // RTS, likewise
    QPushButton* BitBtn9 = nullptr;  // "Break": holds the line in break for Edit4 ms
    QLineEdit* Edit4 = nullptr;      // the break's length in ms, "250"
    QLabel* Label27 = nullptr;       // who the chosen port is
    QCheckBox* CheckBox7 = nullptr;  // reopen the port when its device returns, unticked
    // The capture (frmmain_capture.cpp), below the check of received messages:
    QCheckBox* CheckBox8 = nullptr;   // "Capture to a file...", the timed form; unticked
    QLabel* Label28 = nullptr;        // the capture's file, or why it stopped
    QPushButton* BitBtn10 = nullptr;  // "Show a capture...": a capture into the active log
    QComboBox* ComboBox5 = nullptr;  // check received messages with: none, or a check value
    QLabel* Label30 = nullptr;       // the verdicts since Start: ok, bad, too short
    QLineEdit* Edit5 = nullptr;      // the timer stops after this many sends; empty: never
    QCheckBox* CheckBox9 = nullptr;  // "Text view": received bytes in the text form; unticked
    // Files sent and received (frmmain_transfer.cpp), at the right ends of
    // the rows of the end byte and of the line control:
    QPushButton* BitBtn14 = nullptr;  // "Send file...": the transfer dialog, sending
    QPushButton* BitBtn15 = nullptr;  // "Receive file...": the same, receiving (XMODEM, YMODEM)
    // Not modal, made at its first use; one transfer at a time.
    TTransferDialog* TransferDialog1 = nullptr;
    // The port's state and byte counts at the top row's right end, right of
    // "ASC&II", so that they are in sight while a log is shown.
    QLabel* Label21 = nullptr;

    // --- the sequences page, after "Line" (frmmain_sequences.cpp) ---
    QWidget* TabSheet10 = nullptr;        // "Se&quences"
    QLabel* Label29 = nullptr;            // the set's file, or that none is loaded
    QWidget* Panel2 = nullptr;            // a button per send sequence, enabled while open
    QTableWidget* StringGrid1 = nullptr;  // the receive rules: a tick each, pattern, actions, count
    QPushButton* BitBtn11 = nullptr;      // "E&dit...": the set in a small editor
    QPushButton* BitBtn12 = nullptr;      // "L&oad...": a set file
    QPushButton* BitBtn13 = nullptr;      // "Sa&ve...": the set into a file
    FileDialogRequest OpenDialog2;        // filter "Sequence sets|*.seq|All files|*"
    FileDialogRequest SaveDialog2;        // likewise

    TTimer* T1 = nullptr;  // the repeat timer: disabled, 100 ms

    // Ctrl+F: finds and filters in a receive log, below it; hidden at start.
    TFindBar* FindBar1 = nullptr;
    void FindInLog();  // opens FindBar1 over the log in use

    // --- the window's own state ---
    TLineList* ActiveLog = nullptr;  // the receive log arrivals go into: RX1..RX4
    QString LastPath;                // directory of the executable (ending in "/"), later
                                     // the last file loaded or saved
    TLineList* tempList = nullptr;   // hidden; the log menu's internal clipboard

    // --- the context menu of TX1 and RX1..RX4; its commands act on the list it
    // was opened over (PopupMenu1->PopupComponent()) ---
    TPopupMenu* PopupMenu1 = nullptr;
    QAction* LoadThis = nullptr;    // "Load text..."
    QAction* SaveThis = nullptr;    // "Save text..."
    QAction* N2 = nullptr;          // separator
    QAction* CopyALL = nullptr;     // "Copy all"
    QAction* CopyThis = nullptr;    // "Copy"
    QAction* CopyText = nullptr;    // "Copy as text": the selected lines to the system clipboard
    QAction* PasteThis = nullptr;   // "Paste"
    QAction* N1 = nullptr;          // separator
    QAction* ClearThis = nullptr;   // "Clear"
    FileDialogRequest OpenDialog1;  // filter "Text|*.txt"; shown through ShowFileDialog
    FileDialogRequest SaveDialog1;  // likewise

    // Handlers. They raise on failure; the application's default error handler shows it.
    void FormCreate();
    void BitBtn4Click();  // SUM
    void BitBtn5Click();  // BCC
    void BitBtn6Click();  // Cal
    void BitBtn7Click();  // Notepad
    void BitBtn8Click();  // Clear all
    void PageControl1Change();
    void Image5Click();
    void LoadThisClick();
    void SaveThisClick();
    void CopyALLClick();
    void CopyThisClick();
    void CopyTextClick();
    void PasteThisClick();
    void ClearThisClick();

    // Port controls (frmmain_port.cpp).
    void BitBtn2Click();    // Start
    void BitBtn3Click();    // Stop
    void CheckBox1Click();  // the timer box's tick changed

    // Send path (frmmain_send.cpp).
    void BitBtn1Click();  // Send
    Text GetCommandText() const;
    void ComboBox1Enter();
    void TX1Enter();
    void T1Timer();
    // frmmain_command_line.cpp: the history line double clicked becomes the
    // command source and is sent.
    void TX1DblClick(const QModelIndex& line);

  protected:
    // While a Send waits for the line, closing the window ends the Send
    // (Stop's way) and the window closes once the Send has returned.
    void closeEvent(QCloseEvent* event) override;

  public:
    // Receive log (frmmain_receive.cpp). C1RxChar shows its own errors with
    // the default error handler and returns, so that reception goes on.
    void C1RxChar(QObject* Sender, std::int32_t Count);
    // `kind`: a verdict, a sent block or an event; it colours the line and
    // counts the verdicts on the line page. `shown`: the bytes the line shows
    // and where, kept so that a change of the display form shows them anew.
    void AddRxLine(const Text& line, TLineKind kind = TLineKind::Plain,
                   const TShownBytes& shown = {});
    // Received bytes in the display form chosen (the text view or "ASC&II").
    Text DisplayBytes(std::string_view bytes) const;

    // Capture of the whole session into `path` (frmmain_capture.cpp), beside
    // the logs and whatever they show; one capture of each form may run.
    // Start it before C1 opens, so that its line events are captured too.
    // Throws std::system_error (naming the file) when the file cannot be
    // made. A capture that stops on its own says where in a message box;
    // the session goes on. Main thread.
    void StartCapture(const std::string& path, capture::CaptureForm form);
    // Ends the capture of `form`, its file complete; nothing when none runs.
    void StopCapture(capture::CaptureForm form);
    // The capture of `form` that runs (or stopped on its own); null: none.
    capture::CaptureWriter* Capture(capture::CaptureForm form) const;
    // Puts the timed capture at `path` at the top of the active receive log
    // (newest on top), beside what the log holds, with the line page's log
    // options as they are (one line per block or per message, timestamps
    // from the capture's own times, sent blocks and line events when those
    // options are on). Of a long capture only the newest kLogCap lines
    // are shown, with a line above them saying how many records were left
    // out; a last line cut short (a full disk) is left out with a line that
    // says so. Throws std::runtime_error naming the file (and the line where
    // it breaks); the log is then unchanged. Main thread.
    void ShowCapture(const std::string& path);
    // Arrivals alone never make a receive log longer than this.
    static constexpr int kLogCap = 2000;
    // The line page's options (frmmain_line.cpp). SetLineOptions shows them
    // in the page's controls and applies them as the user's choices would
    // (the port settings among them go into C1).
    void SetLineOptions(const TLineOptions& options);
    const TLineOptions& LineOptions() const { return options_; }
    // What cuts received bytes into messages since Start; made anew at each Start.
    timeline::Framer& MessageFramer() { return framer_; }
    void LogOptionsChange();  // a log option on the line page changed
    void Edit2Apply();        // Enter in the custom baud rate
    void CheckBox5Click();    // DTR switched by the user
    void CheckBox6Click();    // RTS switched by the user
    void BitBtn9Click();      // Break
    // The sequence set (frmmain_sequences.cpp). LoadSequences reads and
    // checks the file first: a bad one raises sequences::ESequenceFile
    // ("file:line: reason") and the set in use stays. SetSequences puts a set
    // in use (its rules' figures start at 0); an empty set changes nothing
    // the window does.
    void LoadSequences(const std::string& fileName);
    void SetSequences(const sequences::SequenceSet& set);
    const sequences::SequenceSet& Sequences() const { return sequenceSet_; }
    // The rules at work: enabled, matched, answered, response times.
    const sequences::RuleMatcher& SequenceRules() const { return ruleMatcher_; }
    // Sends the send sequence at `index` as its button does: nothing while
    // the port is closed; its repeats follow by a timer.
    void SendSequence(std::size_t index);
    void BitBtn11Click();  // Edit...
    void BitBtn12Click();  // Load...
    void BitBtn13Click();  // Save...
    // The port list read again (a port came or went); the choice is kept
    // when it is still there.
    void PortsChanged(const std::string& news);
    // Follows ports that come and go from `source` (the constructor asks
    // for the automatic one). Where no news can be had (the watcher's mode
    // is on demand), the port list is read again whenever it drops down.
    void WatchPorts(cport::TPortWatchSource source);
    // File transfers (frmmain_transfer.cpp). While one runs, Send and the
    // timer are held off and say why; received bytes of a text or raw
    // transfer still reach the log, a protocol's do not.
    void SendFileClick();
    void ReceiveFileClick();
    // Starts `job` on the open port ("Not Connected" while it is closed;
    // nothing while a transfer runs); its end is shown in the dialog, a
    // failure also in the default error box.
    void StartTransfer(const transfer::Job& job);
    void CancelTransfer();
    bool TransferRunning() const { return transfer_ != nullptr; }
    // The transfer that starts, in the dialog, once the port has opened.
    void TransferAtStart(const transfer::Job& job);

    // The plot (frmmain_plot.cpp): a window of its own, made when first
    // opened; until then received bytes cost it nothing.
    QPushButton* PlotButton = nullptr;  // "Plot..." on the line page
    // Shows the plot window, reading lines in `format` if it is new. Opened
    // from the command line (`always`) it reads all the session, even
    // closed; opened by the button, while it is shown.
    void OpenPlot(samples::SampleFormat format, bool always);
    TPlotWindow* Plot() const { return plot_; }
    // The received blocks of a timed capture into the open plot, at their
    // recorded times (--plot with --open-capture). Raises as ShowCapture does.
    void PlotCapture(const std::string& path);
    // The format the button's plot reads lines in (--plot-format).
    void SetPlotFormat(samples::SampleFormat format) { plotFormat_ = format; }

  private:
    // The client area as designed: the anchors keep their distances from it.
    static constexpr QSize kClientSize{683, 540};

    // The window's description, in its order: C1 loading with its settings,
    // the selectors with their stored texts, the other controls, then the
    // selectors linked to C1, and C1's loading ended.
    void CreatePort(const Text& portArgument);
    void CreateSelectors(const Text& portArgument);
    void LinkSelectors();
    void ConnectPortHandlers();
    void ConnectSendHandlers();
    void ConnectCommandLine();  // Enter, the history's double click, the command line's menu
    // Start enabled exactly when C1 is closed; Stop and Send when it is open.
    void SetPortButtons();
    // The receive logs keep up with a flood of arrivals (frmmain_receive.cpp).
    void PrepareReceiveLogs();
    // Inserts the lines that arrived during the current frame, in order.
    void FlushRxLines();
    // A slot for a user's command (a button, a menu item, the timer's tick):
    // lines held for the display frame go into their logs first, so that the
    // command sees every line that has arrived; then the handler runs
    // Guarded. Buttons and menu items act on release, after the press that
    // flushed last.
    template <typename... Args>
    auto Command(void (Tfrmmain::*handler)(Args...)) {
        return [this, guarded = Guarded(this, handler)](Args... args) {
            FlushRxLines();
            guarded(args...);
        };
    }

    // Send (frmmain_send.cpp): the send itself, and what follows its end.
    void SendNow();
    void SendEnded();
    // A Send runs; while it waits for the line the window goes on answering.
    bool sending_ = false;
    int sendsWaiting_ = 0;         // Sends pressed meanwhile, run after it in order
    bool closeAfterSend_ = false;  // the window was closed meanwhile

    void BuildLayout();
    void BuildFindBar();
    void ConnectHandlers();
    void BuildPopupMenu();    // PopupMenu1 with its items and handlers, on TX1 and RX1..RX4
    void LoadPagePictures();  // the code tables, on first showing of their page
    void SetCommandLine(const std::string& text);

    // While arrivals pour in, their lines reach the logs once a frame.
    struct PendingRxLine {
        TLineList* log;  // the active log when the line arrived
        Text text;
        TLineKind kind;
        std::string bytes;  // what the line shows of them, at `at`, `length` characters
        std::size_t at = 0;
        std::size_t length = 0;
    };
    QTimer* rxFrame_ = nullptr;
    std::vector<PendingRxLine> pendingRx_;
    std::uint64_t bytesShown_ = 0;  // receivedBytes_ when the lines last reached the logs

    // The captures by form (kTimed, kRaw); each fed what C1 reads and writes.
    std::unique_ptr<capture::CaptureWriter> captures_[2];
    // Stops told but not yet shown: the captures that stop together (one
    // full disk) are told in one box.
    std::vector<std::string> captureStops_;
    bool captureBoxDue_ = false;
    void TellCaptureStops();
    void BuildCaptureControls();
    void CheckBox8Click();  // the user ticked or unticked the capture
    void BitBtn10Click();
    void CaptureReceived(const Text& bytes);
    // `bytes`: what was handed to Write (copied before it: handlers that run
    // while a write waits may refill the codec's buffer); `written` of them went.
    void CaptureSent(const std::string& bytes, std::int32_t written);
    // File transfers (frmmain_transfer.cpp).
    void BuildTransferControls();
    void AddTransferItems(QMenu* menu);  // at the end of the command line's menu
    void OpenTransferDialog(bool receive);
    void WriteForTransfer(std::string_view bytes);  // main thread, for the engine
    // Feeds arrivals to the transfer; true when they are for it alone.
    bool TransferTakesReceived(const Text& received);
    // The port closes under the transfer (Stop, the window closing): it ends
    // as cancelled.
    void EndTransferWithLine(const char* why);
    void TransferLineLost();
    void TransferEnded(const transfer::Outcome* outcome, std::exception_ptr error);
    void ShowTransferHold();     // Send and the timer box held off, with the reason
    void StartTransferAtOpen();  // --send-file, once
    std::unique_ptr<TTransferRun> transfer_;
    std::optional<transfer::Job> startupTransfer_;
    bool transferStopped_ = false;
    // The line page (frmmain_line.cpp).
    void BuildLinePage();
    void ConnectLineHandlers();
    void ApplyPortOptions(const TLineOptions& options);
    // Shows the port's state and counts; the rate is taken at most once a second.
    void ShowLineState();
    TLineOptions options_;
    std::uint64_t receivedBytes_ = 0;  // since Start
    std::uint64_t sentBytes_ = 0;      // since Start
    std::int64_t rateSinceUs_ = 0;     // when the rate was last taken (monotonic µs)
    std::uint64_t rateBytes_ = 0;      // receivedBytes_ then
    std::uint64_t rate_ = 0;           // bytes per second received
    QTimer* rateTimer_ = nullptr;      // takes the rate down once arrivals stop

    // The log options at work (frmmain_timeline.cpp).
    void PrepareTimeline();
    // A block read with the arrival time; lines for each finished message.
    // `times`: the port's arrival times of the read's first and last byte.
    void ReceiveFramed(const Text& received, std::int32_t count, const cport::TransferTimes& times);
    void AddMessages(const std::vector<timeline::Message>& messages);
    // The message being gathered goes into the log (quiet line, Stop, a new rule).
    void CloseMessage();
    void GapTimeout();
    void ArmFramingTimer();
    // A marked line for a sent block or a line event, with its time.
    void LogSent(const std::string& bytes, const timeline::Moment& at);
    void LogEvent(const std::string& what, const timeline::Moment& at);
    std::string Timestamp(std::int64_t monotonicUs);
    void StartTimeline();  // Start opened the port
    void EndTimeline();    // the port is closing
    timeline::FramingRule CurrentRule() const;
    // Line control and who the port is (frmmain_port_lines.cpp).
    void BuildPortLinesControls();
    void ConnectPortLinesHandlers();
    void ShowOutputLines();  // the DTR and RTS switches as the open port holds them
    void ShowPortIdentity();
    void EndBreak();
    // Received messages checked (frmmain_check.cpp).
    void BuildCheckOption();
    void ConnectCheckOption();
    void ShowCheckOption();  // the list shows options_.check
    // The mark a received line ends with; empty with no check chosen.
    std::string CheckMark(std::string_view bytes) const;
    // Appends the mark to `line` and gives the verdict (Plain with no check).
    TLineKind AppendCheckMark(Text& line, std::string_view bytes) const;
    // The verdicts since Start, on the line page (Label30).
    std::uint64_t okLines_ = 0, badLines_ = 0, shortLines_ = 0;
    void ShowVerdictCounts();
    // The receive logs' font: fixed pitch in the text view, the window's
    // otherwise; the lines that keep their bytes are shown in the form chosen.
    void ShowDisplayForm();
    // The port's time line: a lost line and its return (frmmain_port_lines.cpp).
    void C1LineEvent(const cport::LineEvent& event);
    bool timerBeforeLoss_ = false;  // T1 ran when the line was lost
    std::string lossReason_;        // why a network port's line was lost, until it is back
    bool tickRunning_ = false;      // T1's tick is sending (the timer is off meanwhile)
    std::int32_t timerSends_ = 0;   // T1's sends since the timer box was last ticked
    // T1's last tick failed to write with the device going (EIO, ENXIO,
    // ENODEV), before the loss was known; the loss then counts the timer as running.
    bool tickLostDevice_ = false;
    QTimer* breakTimer_ = nullptr;
    cport::TPortWatcher* PortWatcher1 = nullptr;  // ports that come and go
    // The system's port names (frmmain_port.cpp), and those the list was
    // last filled from: news that leaves them as they are refills nothing.
    std::vector<Text> SystemPorts() const;
    std::vector<Text> listedPorts_;
    // The port list refilled if the system's names changed; whether they did.
    bool RereadPorts();
    void PortListDropsDown();
    // The port's line events (frmmain_signals.cpp): lamps, counts, log lines.
    void ConnectSignalHandlers();
    void SignalChange(QLabel* lamp, bool on);  // the state at opening and closing
    // A modem line's change, a ring's edge (kCts ... kRing); with the event's time.
    void ModemLineEvent(const cport::LineEvent& event, const timeline::Moment& at);
    // A break or line errors received (kBreak ... kBufferOverrun).
    void LineErrorEvent(const cport::LineEvent& event, const timeline::Moment& at);
    void ShowLamp(QLabel* lamp, int state);  // -1 unknown, 0 off, 1 on
    // The error counts on the page: the kernel's where the driver keeps them,
    // else those of the line events since Start, else "not available".
    std::optional<cport::LineCounters::Kernel> kernelCounts_;
    bool errorsCounted_ = false;  // a break or line error came as a line event since Start
    bool portClosing_ = false;    // the window closes the port: the lines' last report is no change
    std::uint64_t frameErrors_ = 0, parityErrors_ = 0, overruns_ = 0, breaks_ = 0, rings_ = 0;
    // The sequences page at work (frmmain_sequences.cpp).
    void BuildSequencesPage();
    void ConnectSequenceHandlers();
    void ShowSequences();   // buttons, keys and rules for the set in use
    void ShowRuleCounts();  // the count column
    void ShowSequenceButtons();  // enabled while the port is open
    // The receive rules over bytes that arrived (`message`: one framed
    // message; else one arrival, matched as a stream), the last byte at
    // `lastByteUs`. Answers without delay are written at once; returns
    // the marks the log line ends with ("" with no rule matched, no set).
    std::string AnswerReceived(std::string_view bytes, bool message, std::int64_t lastByteUs);
    // The answers written since, as sent lines after the received line.
    void LogAnswers();
    // Writes one send sequence; the time it was handed to the driver.
    std::int64_t WriteSequence(const sequences::SendSequence& send);
    void AnswerRule(std::size_t rule, std::int64_t lastByteUs, int repeatsLeft);
    void RepeatSequence(std::size_t index, int repeatsLeft);
    sequences::SequenceSet sequenceSet_;
    sequences::RuleMatcher ruleMatcher_;
    std::vector<QPushButton*> sequenceButtons_;
    std::vector<QShortcut*> sequenceKeys_;
    std::vector<sequences::RuleMatch> ruleMatches_;
    struct AnswerToLog {
        std::string bytes;
        timeline::Moment at;
    };
    std::vector<AnswerToLog> answersToLog_;
    QObject* sequenceTimers_ = nullptr;  // parent of pending repeats and delayed answers
    timeline::Framer framer_;
    QTimer* gapTimer_ = nullptr;
    std::int64_t startUs_ = 0;         // Start, monotonic µs
    std::int64_t previousLineUs_ = 0;  // the previous line's time, monotonic µs

    // The plot's share of received bytes (frmmain_plot.cpp).
    void BuildPlotControls();
    void PlotReceived(const Text& bytes, const cport::TransferTimes& times);
    TPlotWindow* plot_ = nullptr;
    bool plotAlways_ = false;
    samples::SampleFormat plotFormat_ = samples::SampleFormat::kCsv;
};

}  // namespace tarvik
