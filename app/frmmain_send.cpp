// Send, the command source, the send history and the timer tick.

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFocusEvent>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>
#include <cerrno>
#include <functional>
#include <stdexcept>
#include <string>

#include "app/explained_error.h"
#include "app/frmmain.h"
#include "app/guarded.h"
#include "app/latin1_text.h"
#include "base/main_thread.h"
#include "codec/fun.h"
#include "serial/error/com_error.h"
#include "serial/port/com_port.h"
#include "serial/ports/write_failure.h"

namespace tarvik {

namespace {

// The device took fewer bytes than were sent (its write time-out ran out,
// for example while flow control held the line).
class EIncompleteSend : public std::runtime_error {
  public:
    EIncompleteSend(std::int32_t written, std::int32_t count)
        : std::runtime_error("Only " + std::to_string(written) + " of " + std::to_string(count) +
                             " bytes were sent; the write time-out ran out") {}
};

// Calls its handler when the control receives the keyboard focus by a click,
// the Tab key or from code; not when its window becomes active again or a
// pop-up hands the focus back, since the control had it all along.
class EnterWatcher : public QObject {
  public:
    EnterWatcher(QWidget* control, std::function<void()> onEnter)
        : QObject(control), onEnter_(std::move(onEnter)) {
        control->installEventFilter(this);
    }

    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::FocusIn) {
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
                onEnter_();
        }
        return false;
    }

  private:
    std::function<void()> onEnter_;
};

}  // namespace

void Tfrmmain::ConnectSendHandlers() {
    connect(BitBtn1, &QPushButton::clicked, this, Command(&Tfrmmain::BitBtn1Click));
    connect(T1, &QTimer::timeout, this, Command(&Tfrmmain::T1Timer));
    new EnterWatcher(ComboBox1, Guarded(this, &Tfrmmain::ComboBox1Enter));
    new EnterWatcher(TX1, Guarded(this, &Tfrmmain::TX1Enter));
    ConnectCommandLine();
}

Text Tfrmmain::GetCommandText() const {
    if (RadioButton1->isChecked())
        return ToText(ComboBox1->currentText());
    const QList<int> selected = TX1->selectedRows();
    if (!selected.isEmpty())
        return Text(TX1->Lines()->Line(selected.front()));
    return {};
}

void Tfrmmain::BitBtn1Click() {
    // A Send pressed while another still waits for the line runs after it,
    // so the bytes and the history lines keep the order of the presses.
    if (sending_) {
        ++sendsWaiting_;
        return;
    }
    sending_ = true;
    struct Ended {
        Tfrmmain& window;
        ~Ended() { window.SendEnded(); }
    } ended{*this};
    try {
        SendNow();
    } catch (...) {
        // Closing the window ended this Send: nobody is left to be told.
        if (!closeAfterSend_)
            throw;
    }
}

void Tfrmmain::SendEnded() {
    sending_ = false;
    if (closeAfterSend_) {
        sendsWaiting_ = 0;
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    } else if (sendsWaiting_ > 0) {
        --sendsWaiting_;
        QMetaObject::invokeMethod(this, Guarded(this, &Tfrmmain::BitBtn1Click),
                                  Qt::QueuedConnection);
    }
}

void Tfrmmain::closeEvent(QCloseEvent* event) {
    if (!sending_) {
        QWidget::closeEvent(event);
        return;
    }
    event->ignore();
    closeAfterSend_ = true;
    try {
        T1->SetEnabled(false);
        C1->Close();  // ends the write the Send waits for
    } catch (...) {
        PassToEventLoop(std::current_exception());
    }
}

void Tfrmmain::SendNow() {
    if (!C1->Connected()) {
        fun::ShowMsg("Not Connected");
        return;
    }
    fun::StrToTokens(GetCommandText());
    fun::TokensToBytes();
    const std::int32_t count = fun::ByteLen;
    // Copied first: handlers that run while the write waits may refill the codec's buffer.
    std::string sent;
    if (options_.logSent || Capture(capture::CaptureForm::kTimed))
        sent.assign(reinterpret_cast<const char*>(fun::ByteBuf.data()), std::size_t(count));
    const timeline::Moment handedOver = timeline::Now();
    std::int32_t written = 0;
    try {
        written = C1->Write(fun::ByteBuf.data(), count);
    } catch (const cport::EComPort& error) {
        // Beside the port's own text: why, in words a user can act on.
        if (error.ErrorCode() != cport::ecWrite || error.WinErrorCode() <= 0)
            throw;
        throw EExplained(error, cport::ExplainWriteFailure(
                                    {error.WinErrorCode(), C1->LineLost(), C1->ReopenOnReturn(),
                                     C1->LineLost() ? lossReason_ : std::string()}));
    }
    CaptureSent(sent, written);
    sentBytes_ += static_cast<std::uint64_t>(std::max(written, 0));
    if (options_.logSent && written > 0) {
        sent.resize(std::size_t(written));
        // When the port handed the bytes to the driver, where it knows.
        const cport::LineTime handed = C1->LastWriteTimes().first;
        LogSent(sent, handed.Valid() ? timeline::Moment{handed.monoUs, handed.wallUs} : handedOver);
    }
    ShowLineState();
    if (written != count)
        throw EIncompleteSend(written, count);
    if (RadioButton1->isChecked()) {
        // Only the newest line is compared: an equal line further down does
        // not keep the command out.
        const QString line = ComboBox1->currentText();
        if (TX1->count() == 0 || TX1->text(0) != line)
            TX1->insertItem(0, line);
    }
}

void Tfrmmain::ComboBox1Enter() {
    RadioButton1->setChecked(true);
}

void Tfrmmain::TX1Enter() {
    RadioButton2->setChecked(true);
}

void Tfrmmain::T1Timer() {
    // The interval runs from the end of one send to the next tick. An error
    // ends the tick here, and the timer stays off. A tick while a Send waits
    // for the line is dropped: ticks do not pile up behind a stuck line.
    if (sending_)
        return;
    T1->SetEnabled(false);
    tickRunning_ = true;
    try {
        BitBtn1Click();
    } catch (const cport::EComPort& error) {
        tickRunning_ = false;
        // A write that failed because the device is going: the loss may be
        // known only after this tick, and the timer then goes on once the
        // device is back, as it would had the loss been known first.
        const int code = error.WinErrorCode();
        tickLostDevice_ = code == EIO || code == ENXIO || code == ENODEV;
        throw;
    } catch (...) {
        tickRunning_ = false;
        throw;
    }
    tickRunning_ = false;
    // --count: the timer's box is unticked after the last send, as by the user.
    if (options_.sendCount > 0 && ++timerSends_ >= options_.sendCount) {
        CheckBox1->setChecked(false);
        return;
    }
    T1->SetEnabled(true);
}

}  // namespace tarvik
