// Capture of the whole session: what C1 reads and writes, with the port's
// times, and its line events, handed to the capture writers.

#include <QCheckBox>
#include <QMetaObject>
#include <QPointer>
#include <string_view>
#include <vector>

#include "app/frmmain.h"
#include "base/message_box.h"
#include "capture/capture_load.h"
#include "codec/fun.h"
#include "serial/com_port.h"

namespace tarvik {

namespace {

int Slot(capture::CaptureForm form) {
    return form == capture::CaptureForm::kTimed ? 0 : 1;
}

}  // namespace

void Tfrmmain::StartCapture(const std::string& path, capture::CaptureForm form) {
    // The stop is told on the writer's thread; the box belongs to this one.
    QPointer<Tfrmmain> window(this);
    const auto onStopped = [window](const capture::CaptureStop& stop) {
        const std::string text = stop.Message();
        QMetaObject::invokeMethod(
            window.data(),
            [text] {
                ShowMessageBox({.text = text,
                                .caption = "Capture",
                                .icon = MessageIcon::Error,
                                .hasOwner = false});
            },
            Qt::QueuedConnection);
    };
    captures_[Slot(form)] = std::make_unique<capture::CaptureWriter>(path, form, onStopped);
    // Line events go to the timed capture; the port asks its device for
    // them only once a handler is set.
    if (!C1->OnLineEvent()) {
        C1->SetOnLineEvent([this](QObject*, const cport::LineEvent& event) {
            if (capture::CaptureWriter* timed = Capture(capture::CaptureForm::kTimed))
                timed->Event(event);
        });
    }
}

void Tfrmmain::StopCapture(capture::CaptureForm form) {
    captures_[Slot(form)].reset();
}

void Tfrmmain::ShowCapture(const std::string& path) {
    const std::vector<capture::CaptureRecord> records = capture::LoadCapture(path);
    std::vector<Text> lines;
    for (const auto& record : records) {
        if (record.kind == capture::RecordKind::kReceived) {
            lines.push_back(fun::BytesToDisplay(record.bytes, CheckBox2->isChecked()) + " (" +
                            std::to_string(record.bytes.size()) + ")");
        }
    }
    std::vector<std::string_view> newestFirst(lines.rbegin(), lines.rend());
    FlushRxLines();
    ActiveLog->Lines()->Insert(0, newestFirst);
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

void Tfrmmain::CaptureSent(const std::uint8_t* bytes, std::int32_t count) {
    if (!captures_[0] || count <= 0)
        return;
    captures_[0]->Sent(
        std::string_view(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(count)),
        C1->LastWriteTimes().first);
}

}  // namespace tarvik
