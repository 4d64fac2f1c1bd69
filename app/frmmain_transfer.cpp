// Files sent and received over the open port: "Send file..." and "Receive
// file..." on the line page and in the command line's menu, the transfer
// dialog, the engine's run beside the window, and what the window holds off
// while it runs (Send, the timer).

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QMenu>
#include <QPushButton>
#include <algorithm>
#include <stdexcept>
#include <string>

#include "app/default_error.h"
#include "app/frmmain.h"
#include "app/transfer_dialog.h"
#include "app/transfer_run.h"
#include "codec/fun.h"
#include "serial/port/com_port.h"
#include "transfer/transfer_error.h"

namespace tarvik {

namespace {

const char* const kTransferRunning = "A file transfer is running";

bool Protocol(transfer::Mode mode) {
    return mode != transfer::Mode::kText && mode != transfer::Mode::kRaw;
}

}  // namespace

void Tfrmmain::BuildTransferControls() {
    QWidget* page = TabSheet9;
    BitBtn14 = new QPushButton(QStringLiteral("Send file..."), page);
    BitBtn14->setObjectName(QStringLiteral("BitBtn14"));
    // The page is full to its bottom: the free right ends of two rows.
    BitBtn14->setGeometry(560, 78, 115, 25);
    BitBtn14->setToolTip(QStringLiteral("Paced text, raw binary, XMODEM or YMODEM"));
    BitBtn15 = new QPushButton(QStringLiteral("Receive file..."), page);
    BitBtn15->setObjectName(QStringLiteral("BitBtn15"));
    BitBtn15->setGeometry(560, 181, 115, 25);
    BitBtn15->setToolTip(QStringLiteral("XMODEM or YMODEM"));
    connect(BitBtn14, &QPushButton::clicked, this, Command(&Tfrmmain::SendFileClick));
    connect(BitBtn15, &QPushButton::clicked, this, Command(&Tfrmmain::ReceiveFileClick));
}

void Tfrmmain::AddTransferItems(QMenu* menu) {
    menu->addSeparator();
    QAction* send = menu->addAction(QStringLiteral("Send file..."));
    send->setObjectName(QStringLiteral("SendFile"));
    connect(send, &QAction::triggered, this, Command(&Tfrmmain::SendFileClick));
    QAction* receive = menu->addAction(QStringLiteral("Receive file..."));
    receive->setObjectName(QStringLiteral("ReceiveFile"));
    connect(receive, &QAction::triggered, this, Command(&Tfrmmain::ReceiveFileClick));
}

void Tfrmmain::SendFileClick() {
    OpenTransferDialog(false);
}

void Tfrmmain::ReceiveFileClick() {
    OpenTransferDialog(true);
}

void Tfrmmain::OpenTransferDialog(bool receive) {
    if (TransferDialog1 == nullptr) {
        TransferDialog1 = new TTransferDialog(
            this, {.start = [this](const transfer::Job& job) { StartTransfer(job); },
                   .cancel = [this] { CancelTransfer(); },
                   .running = [this] { return TransferRunning(); }});
    }
    // The transfer that runs keeps its dialog as it is.
    if (!TransferRunning())
        TransferDialog1->Prepare(receive);
    TransferDialog1->show();
    TransferDialog1->raise();
    TransferDialog1->activateWindow();
}

void Tfrmmain::TransferAtStart(const transfer::Job& job) {
    startupTransfer_ = job;
}

void Tfrmmain::StartTransfer(const transfer::Job& job) {
    if (TransferRunning())
        return;
    if (!C1->Connected()) {
        fun::ShowMsg("Not Connected");
        return;
    }
    transferStopped_ = false;
    transfer_ = std::make_unique<TTransferRun>(
        job, [this](std::string_view bytes) { WriteForTransfer(bytes); },
        [this](const transfer::Progress& figures) {
            if (TransferDialog1 != nullptr)
                TransferDialog1->ShowProgress(figures);
            ShowLineState();
        },
        [this](const transfer::Outcome* outcome, std::exception_ptr error) {
            TransferEnded(outcome, error);
        });
    if (TransferDialog1 != nullptr)
        TransferDialog1->ShowStarted();
    ShowTransferHold();
}

void Tfrmmain::WriteForTransfer(std::string_view bytes) {
    if (!C1->Connected())
        throw std::runtime_error("The port was closed");
    const auto count = static_cast<std::int32_t>(bytes.size());
    const std::int32_t written = C1->Write(bytes.data(), count);
    if (Capture(capture::CaptureForm::kTimed))
        CaptureSent(std::string(bytes), written);
    sentBytes_ += static_cast<std::uint64_t>(std::max(written, 0));
    if (written != count)
        throw std::runtime_error("Only " + std::to_string(written) + " of " +
                                 std::to_string(count) +
                                 " bytes were sent; the write time-out ran out");
}

bool Tfrmmain::TransferTakesReceived(const Text& received) {
    if (!transfer_)
        return false;
    transfer_->Received(received);
    // A text or raw transfer's answers are the device's own: they stay in the log.
    return Protocol(transfer_->Job().mode);
}

void Tfrmmain::CancelTransfer() {
    if (transfer_)
        transfer_->Cancel();
}

void Tfrmmain::EndTransferWithLine(const char* why) {
    if (!transfer_)
        return;
    transferStopped_ = true;
    transfer_->Cancel();
    transfer_->Lose(why);
}

void Tfrmmain::TransferLineLost() {
    if (transfer_)
        transfer_->Lose("The line was lost");
}

void Tfrmmain::TransferEnded(const transfer::Outcome* outcome, std::exception_ptr error) {
    // Deleted once the call that reports its end has returned.
    TTransferRun* ended = transfer_.release();
    ended->setParent(this);
    ended->deleteLater();
    const bool stopped = transferStopped_;
    transferStopped_ = false;
    ShowTransferHold();
    ShowLineState();
    QString said;
    std::exception_ptr shown;
    if (outcome != nullptr) {
        said = QStringLiteral("Done: %1 bytes").arg(outcome->figures.bytes);
        if (outcome->figures.retries > 0)
            said += QStringLiteral(", %1 retries").arg(outcome->figures.retries);
        if (outcome->figures.endUnconfirmed)
            said += QStringLiteral(", the end not confirmed by the receiver");
    } else {
        try {
            std::rethrow_exception(error);
        } catch (const transfer::ETransfer& failure) {
            if (failure.Code() == transfer::TransferCode::kCancelled || stopped) {
                said = QStringLiteral("Cancelled");
            } else {
                said = QStringLiteral("Failed: ") + QString::fromStdString(failure.what());
                shown = error;
            }
        } catch (const std::exception& failure) {
            said = QStringLiteral("Failed: ") + QString::fromStdString(failure.what());
            shown = error;
        }
    }
    if (TransferDialog1 != nullptr)
        TransferDialog1->ShowEnded(said, outcome != nullptr);
    if (shown) {
        try {
            std::rethrow_exception(shown);
        } catch (const std::exception& failure) {
            ShowDefaultError(std::runtime_error(std::string("The file transfer failed: ") +
                                                failure.what()));
        }
    }
}

void Tfrmmain::ShowTransferHold() {
    const bool running = TransferRunning();
    const QString why = running ? QString::fromLatin1(kTransferRunning) : QString();
    SetPortButtons();
    BitBtn1->setToolTip(why);
    CheckBox1->setEnabled(!running);
    CheckBox1->setToolTip(why);
}

void Tfrmmain::StartTransferAtOpen() {
    if (!startupTransfer_ || !C1->Connected())
        return;
    const transfer::Job job = *startupTransfer_;
    startupTransfer_.reset();
    OpenTransferDialog(job.receive);
    TransferDialog1->Fill(job);
    StartTransfer(job);
}

}  // namespace tarvik
