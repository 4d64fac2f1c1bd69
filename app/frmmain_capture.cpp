// Capture of the whole session: what C1 reads and writes, with the port's
// times, and its line events, handed to the capture writers.

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QMetaObject>
#include <QPointer>
#include <QPushButton>
#include <string_view>
#include <vector>

#include "app/file_dialog.h"
#include "app/frmmain.h"
#include "base/message_box.h"
#include "capture/capture_load.h"
#include "codec/fun.h"
#include "serial/port/com_port.h"
#include "timeline/framing.h"
#include "timeline/timestamp.h"

namespace tarvik {

namespace {

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
                ShowMessageBox({.text = text,
                                .caption = "Capture",
                                .icon = MessageIcon::Error,
                                .hasOwner = false});
            },
            Qt::QueuedConnection);
    };
    captures_[Slot(form)] = std::make_unique<capture::CaptureWriter>(path, form, onStopped);
    if (form == capture::CaptureForm::kTimed) {
        CheckBox8->setChecked(true);
        Label28->setText(QStringLiteral("Capturing to ") + QFile::decodeName(path.c_str()));
    }
}

void Tfrmmain::StopCapture(capture::CaptureForm form) {
    captures_[Slot(form)].reset();
    if (form == capture::CaptureForm::kTimed) {
        CheckBox8->setChecked(false);
        Label28->clear();
    }
}

void Tfrmmain::ShowCapture(const std::string& path) {
    const std::vector<capture::CaptureRecord> records = capture::LoadCapture(path);
    // The log options of the line page, with the capture's own times: a
    // recorded time belongs to the session it was taken in, not to now.
    timeline::Framer framer(CurrentRule());
    const bool perArrival = options_.messages == TMessageRule::PerArrival;
    std::int64_t startUs = records.empty() ? 0 : records.front().time.monoUs;
    std::int64_t previousUs = startUs;
    std::int64_t wallOffsetUs = 0;  // wall minus monotonic, of the latest record
    std::vector<Text> lines;        // oldest first
    std::vector<TLineKind> kinds;   // one per line
    const auto stamp = [&](std::int64_t monoUs) -> Text {
        if (options_.timestamps == timeline::TimestampMode::Off)
            return {};
        Text text = timeline::FormatTimestamp(options_.timestamps, {monoUs, monoUs + wallOffsetUs},
                                              previousUs, startUs);
        previousUs = monoUs;
        return text;
    };
    const auto add = [&](const std::vector<timeline::Message>& messages) {
        for (const timeline::Message& message : messages) {
            Text line = stamp(message.firstUs) +
                        DisplayBytes(message.bytes) + " (" +
                        std::to_string(message.bytes.size()) + ")";
            // A capture shown is checked as the live line would be.
            kinds.push_back(AppendCheckMark(line, message.bytes));
            lines.push_back(std::move(line));
        }
    };
    std::vector<timeline::Message> messages;
    for (const capture::CaptureRecord& record : records) {
        wallOffsetUs = record.time.wallUs - record.time.monoUs;
        const std::int64_t at = record.time.monoUs;
        switch (record.kind) {
            case capture::RecordKind::kReceived:
                if (perArrival) {
                    messages.push_back({record.bytes, at, at});
                } else {
                    framer.Add({record.bytes, at, at}, messages);
                }
                break;
            case capture::RecordKind::kSent:
                if (!options_.logSent)
                    continue;
                framer.Close(messages);  // a send ends the answer gathered so far
                add(messages);
                messages.clear();
                lines.push_back(stamp(at) + Text(kSentMark) +
                                DisplayBytes(record.bytes) + " (" +
                                std::to_string(record.bytes.size()) + ")");
                kinds.push_back(TLineKind::Sent);
                continue;
            case capture::RecordKind::kEvent: {
                if (!options_.logEvents)
                    continue;
                Text what = cport::LineEventName(record.event.kind);
                if (record.event.kind <= cport::LineEventKind::kRing)  // the modem lines
                    what += record.event.state ? " on" : " off";
                else if (record.event.count != 0)
                    what.append(" ").append(std::to_string(record.event.count));
                add(messages);
                messages.clear();
                lines.push_back(stamp(at) + Text(kEventMark) + what);
                kinds.push_back(TLineKind::Event);
                continue;
            }
        }
        add(messages);
        messages.clear();
    }
    framer.Close(messages);
    add(messages);
    std::vector<std::string_view> newestFirst(lines.rbegin(), lines.rend());
    FlushRxLines();
    ActiveLog->Lines()->Insert(0, newestFirst, {kinds.rbegin(), kinds.rend()});
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
