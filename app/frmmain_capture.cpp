// Capture of the whole session: what C1 reads and writes, with the port's
// times, and its line events, handed to the capture writers.

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QMetaObject>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <string_view>
#include <vector>

#include "app/capture_view.h"
#include "app/file_dialog.h"
#include "app/frmmain.h"
#include "base/message_box.h"
#include "serial/port/com_port.h"

namespace tarvik {

namespace {

// How long a stopped capture waits for the other to stop too before its box.
constexpr int kCaptureStopsSettleMs = 250;

int Slot(capture::CaptureForm form) {
    return form == capture::CaptureForm::kTimed ? 0 : 1;
}

}  // namespace

void Tfrmmain::BuildCaptureControls() {
    QWidget* page = TabSheet9;
    CheckBox8 = new QCheckBox(QStringLiteral("Capture to a file..."), page);
    CheckBox8->setObjectName(QStringLiteral("CheckBox8"));
    CheckBox8->setGeometry(10, 285, 160, 17);
    CheckBox8->setToolTip(
        QStringLiteral("Every byte received and sent with its time, and the line events"));
    BitBtn10 = new QPushButton(QStringLiteral("Show a capture..."), page);
    BitBtn10->setObjectName(QStringLiteral("BitBtn10"));
    BitBtn10->setGeometry(175, 281, 120, 22);
    Label28 = new QLabel(page);
    Label28->setObjectName(QStringLiteral("Label28"));
    Label28->setGeometry(305, 285, 345, 17);
    Label28->setTextInteractionFlags(Qt::TextSelectableByMouse);
    connect(CheckBox8, &QCheckBox::clicked, this, Command(&Tfrmmain::CheckBox8Click));
    connect(BitBtn10, &QPushButton::clicked, this, Command(&Tfrmmain::BitBtn10Click));
}

void Tfrmmain::CheckBox8Click() {
    if (!CheckBox8->isChecked()) {
        StopCapture(capture::CaptureForm::kTimed);
        return;
    }
    CheckBox8->setChecked(false);  // ticked once a capture runs
    FileDialogRequest request;
    request.kind = FileDialogKind::Save;
    request.caption = QStringLiteral("Capture to");
    request.fileName = QStringLiteral("session.cap");
    request.filter = QStringLiteral("Capture|*.cap|All files|*");
    const FileDialogAnswer chosen = ShowFileDialog(request);
    if (chosen)
        StartCapture(QFile::encodeName(*chosen).toStdString(), capture::CaptureForm::kTimed);
}

void Tfrmmain::BitBtn10Click() {
    FileDialogRequest request;
    request.kind = FileDialogKind::Open;
    request.caption = QStringLiteral("Show a capture");
    request.filter = QStringLiteral("Capture|*.cap|All files|*");
    const FileDialogAnswer chosen = ShowFileDialog(request);
    if (chosen)
        ShowCapture(QFile::encodeName(*chosen).toStdString());
}

void Tfrmmain::StartCapture(const std::string& path, capture::CaptureForm form) {
    // The stop is told on the writer's thread; the box belongs to this one.
    QPointer<Tfrmmain> window(this);
    const auto onStopped = [window, form](const capture::CaptureStop& stop) {
        const std::string text = stop.Message();
        QMetaObject::invokeMethod(
            window.data(),
            [window, form, text] {
                if (form == capture::CaptureForm::kTimed) {
                    window->CheckBox8->setChecked(false);
                    window->Label28->setText(QStringLiteral("Stopped: see the message"));
                }
                window->captureStops_.push_back(text);
                if (window->captureBoxDue_)
                    return;
                // A full disk stops both captures within moments of each
                // other: what stops meanwhile joins the same box.
                window->captureBoxDue_ = true;
                QTimer::singleShot(kCaptureStopsSettleMs, window.data(),
                                   [window] { window->TellCaptureStops(); });
            },
            Qt::QueuedConnection);
    };
    captures_[Slot(form)] = std::make_unique<capture::CaptureWriter>(path, form, onStopped);
    if (form == capture::CaptureForm::kTimed) {
        CheckBox8->setChecked(true);
        Label28->setText(QStringLiteral("Capturing to ") + QFile::decodeName(path.c_str()));
    }
}

void Tfrmmain::TellCaptureStops() {
    // Stops told while the box is open are shown once it is closed, together.
    while (!captureStops_.empty()) {
        std::string text;
        for (const std::string& stop : captureStops_) text += (text.empty() ? "" : "\n\n") + stop;
        captureStops_.clear();
        ShowMessageBox(
            {.text = text, .caption = "Capture", .icon = MessageIcon::Error, .hasOwner = false});
    }
    captureBoxDue_ = false;
}

void Tfrmmain::StopCapture(capture::CaptureForm form) {
    captures_[Slot(form)].reset();
    if (form == capture::CaptureForm::kTimed) {
        CheckBox8->setChecked(false);
        Label28->clear();
    }
}

void Tfrmmain::ShowCapture(const std::string& path) {
    // The log options of the line page, with the capture's own times: a
    // recorded time belongs to the session it was taken in, not to now.
    CaptureViewOptions view;
    view.timestamps = options_.timestamps;
    view.rule = CurrentRule();
    view.logSent = options_.logSent;
    view.logEvents = options_.logEvents;
    view.ascii = CheckBox2->isChecked();
    view.textForm = options_.display == TDisplayForm::TextForm;
    view.check = options_.check;
    const CaptureView shown = ViewCapture(path, view, kLogCap);
    std::vector<Text> notes;  // above the capture's lines, newest first
    if (!shown.warning.empty())
        notes.push_back(Text(kEventMark) + shown.warning);
    if (shown.recordsLeftOut != 0)
        notes.push_back(Text(kEventMark) + path + ": the first " +
                        std::to_string(shown.recordsLeftOut) +
                        " records are left out: a log shows the newest " +
                        std::to_string(kLogCap) + " lines");
    std::vector<std::string_view> newestFirst(notes.begin(), notes.end());
    newestFirst.insert(newestFirst.end(), shown.lines.rbegin(), shown.lines.rend());
    std::vector<TLineKind> kinds(notes.size(), TLineKind::Event);
    kinds.insert(kinds.end(), shown.kinds.rbegin(), shown.kinds.rend());
    std::vector<TShownBytes> bytes(notes.size());
    for (auto line = shown.shown.rbegin(); line != shown.shown.rend(); ++line)
        bytes.push_back({line->bytes, line->at, line->length});
    FlushRxLines();
    ActiveLog->Lines()->Insert(0, newestFirst, kinds, bytes);
}

capture::CaptureWriter* Tfrmmain::Capture(capture::CaptureForm form) const {
    return captures_[Slot(form)].get();
}

void Tfrmmain::CaptureReceived(const Text& bytes) {
    if (!captures_[0] && !captures_[1])
        return;
    const cport::LineTime time = C1->LastReadTimes().first;
    for (auto& capture : captures_) {
        if (capture)
            capture->Received(bytes, time);
    }
}

void Tfrmmain::CaptureSent(const std::string& bytes, std::int32_t written) {
    if (!captures_[0] || written <= 0)
        return;
    captures_[0]->Sent(std::string_view(bytes).substr(0, static_cast<std::size_t>(written)),
                       C1->LastWriteTimes().first);
}

}  // namespace tarvik
