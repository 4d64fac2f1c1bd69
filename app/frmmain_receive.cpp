// The receive log: one line per arrival at the top of the active log.

#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFont>
#include <QFontDatabase>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/default_error.h"
#include "app/frmmain.h"
#include "codec/fun.h"
#include "serial/port/com_port.h"

namespace tarvik {

namespace {

// A line that arrives within this time after another waits for the end of
// the frame and joins the lines inserted there together.
constexpr int kFrameMs = 25;

// Calls its handler before the user's keys and clicks reach any control, so
// that whatever the user does sees every line that has arrived.
class InputWatcher : public QObject {
  public:
    InputWatcher(QObject* owner, std::function<void()> beforeInput)
        : QObject(owner), beforeInput_(std::move(beforeInput)) {
        QCoreApplication::instance()->installEventFilter(this);
    }

    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
            case QEvent::KeyPress:
            case QEvent::ShortcutOverride:
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonDblClick:
            case QEvent::ContextMenu:
            case QEvent::Wheel:
                beforeInput_();
                break;
            default:
                break;
        }
        return false;
    }

  private:
    std::function<void()> beforeInput_;
};

}  // namespace

// A list view lays out all its rows again after each insertion; one
// insertion per arrival made a stream of small blocks cost a full layout and
// a repaint each. A lone arrival is shown at once and opens a frame; lines
// arriving within the frame are inserted together at its end, one layout and
// one repaint for all of them. The timer runs only while lines come in.
void Tfrmmain::PrepareReceiveLogs() {
    rxFrame_ = new QTimer(this);
    rxFrame_->setSingleShot(true);
    rxFrame_->setInterval(kFrameMs);
    connect(rxFrame_, &QTimer::timeout, this, [this] {
        if (!pendingRx_.empty()) {
            FlushRxLines();
            rxFrame_->start();
        } else if (receivedBytes_ != bytesShown_) {
            ShowLineState();  // arrivals that made no line yet still count
        }
    });
    // "ASC&II" changes the form as the Line page's box does.
    connect(CheckBox2, &QCheckBox::toggled, this, [this] { ShowDisplayForm(); });
    new InputWatcher(this, [this] {
        if (!pendingRx_.empty())
            FlushRxLines();
    });
}

void Tfrmmain::FlushRxLines() {
    std::vector<PendingRxLine> lines;
    lines.swap(pendingRx_);
    // Each run of lines for one log is one removal at its bottom and one
    // insertion at its top: the same lines as inserting them one by one,
    // each taking away the bottom line once the log holds the cap, but the
    // view lays the log out once. Lines that the cap would take away again
    // at once (a backlog of more than the log keeps) are never inserted.
    for (auto run = lines.begin(); run != lines.end();) {
        TLineList* log = run->log;
        const auto end = std::find_if(run, lines.end(),
                                      [log](const PendingRxLine& line) { return line.log != log; });
        // At most one line goes per arrival: a longer log (after Load or
        // Paste) keeps its length.
        const int before = log->count();
        const auto added = static_cast<int>(end - run);
        const int kept = before >= kLogCap ? before : std::min(kLogCap, before + added);
        const int inserted = std::min(added, kept);
        std::vector<std::string_view> newestFirst;
        std::vector<TLineKind> kinds;
        std::vector<TShownBytes> shown;
        newestFirst.reserve(static_cast<std::size_t>(inserted));
        kinds.reserve(static_cast<std::size_t>(inserted));
        shown.reserve(static_cast<std::size_t>(inserted));
        bool plain = true;
        bool bytes = false;
        for (auto line = end; int(newestFirst.size()) < inserted;) {
            --line;
            newestFirst.push_back(line->text);
            kinds.push_back(line->kind);
            shown.push_back({line->bytes, line->at, line->length});
            plain = plain && line->kind == TLineKind::Plain;
            bytes = bytes || !line->bytes.empty();
        }
        if (plain)
            kinds.clear();
        if (!bytes)
            shown.clear();
        // The lines going make room first: the blocks their bytes held take
        // the new ones, and a log never holds more than it keeps.
        log->Lines()->Remove(kept - inserted, before - (kept - inserted));
        log->Lines()->Insert(0, newestFirst, kinds, shown);
        run = end;
    }
    ShowLineState();
    bytesShown_ = receivedBytes_;
}

void Tfrmmain::C1RxChar(QObject*, std::int32_t Count) {
    // The port's event thread hands arrivals over and waits; an error leaving
    // here would end that thread in silence and the log would stop. It is
    // shown here instead, and the next arrival is handled as usual.
    try {
        Text received;
        C1->ReadText(received, Count);
        CaptureReceived(received);
        PlotReceived(received, C1->LastReadTimes());
        receivedBytes_ += received.size();
        if (!options_.PlainReceive()) {
            ReceiveFramed(received, Count, C1->LastReadTimes());
            return;
        }
        Text line = DisplayBytes(received);
        const std::size_t length = line.size();
        // The event's count, not the number of bytes read.
        line += " (" + std::to_string(Count) + ")";
        line += AnswerReceived(received, false, C1->LastReadTimes().last.monoUs);
        AddRxLine(line, TLineKind::Plain, {received, 0, length});
        LogAnswers();
    } catch (const std::exception& error) {
        ShowDefaultError(error);
    }
}

Text Tfrmmain::DisplayBytes(std::string_view bytes) const {
    if (options_.display == TDisplayForm::TextForm)
        return fun::BytesToText(bytes);
    return fun::BytesToDisplay(bytes, CheckBox2->isChecked());
}

void Tfrmmain::ShowDisplayForm() {
    const bool text = options_.display == TDisplayForm::TextForm;
    QFont font = this->font();
    if (text) {
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setPointSizeF(std::max(this->font().pointSizeF(), 8.0));
    }
    for (TLineList* log : {RX1, RX2, RX3, RX4}) {
        if (text)
            log->setFont(font);
        else
            log->setFont(QFont());  // the window's again
        log->setAttribute(Qt::WA_SetFont, text);
    }
    // Lines still waiting for the frame's end were made in the form before.
    if (!pendingRx_.empty())
        FlushRxLines();
    for (TLineList* log : {RX1, RX2, RX3, RX4}) log->Reshow([this](std::string_view bytes) {
        return DisplayBytes(bytes);
    });
}

void Tfrmmain::AddRxLine(const Text& line, TLineKind kind, const TShownBytes& shown) {
    pendingRx_.push_back({ActiveLog, line, kind, std::string(shown.bytes), shown.at, shown.length});
    if (IsVerdict(kind)) {
        // Shown with the other counts, once a frame.
        ++(kind == TLineKind::Ok ? okLines_ : kind == TLineKind::Bad ? badLines_ : shortLines_);
    }
    if (!rxFrame_->isActive()) {
        FlushRxLines();
        rxFrame_->start();
    }
}

}  // namespace tarvik
