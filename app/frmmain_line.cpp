// The line page after "About": the port settings the top row has no room
// for, the log options, and the port's state and counters, which also show at
// the top row's right end.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "app/anchors.h"
#include "app/frmmain.h"
#include "app/guarded.h"
#include "app/latin1_text.h"
#include "base/int_conversion.h"
#include "serial/port/com_conversions.h"
#include "serial/port/com_flow_control.h"
#include "serial/port/com_parity.h"
#include "serial/port/com_port.h"
#include "serial_controls/com_combo_box.h"

namespace tarvik {

namespace {

// Items of the option lists, in the order of their enumerations.
const char* const kTimestampItems[] = {"Off", "Time of day", "Since previous line", "Since Start"};
const char* const kMessageItems[] = {"Per arrival", "Until quiet (3.5 characters)",
                                     "Until quiet for ms", "Up to the end byte"};

// A refused value on the page; the message says what the control takes.
class ELineOption : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

QLabel* Caption(QWidget* page, const char* text, int left, int top) {
    auto* label = new QLabel(QString::fromLatin1(text), page);
    label->move(left, top + 3);
    label->adjustSize();
    return label;
}

template <typename T>
T* Put(T* widget, const char* name, int left, int top, int width, int height) {
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(left, top, width, height);
    return widget;
}

// Short enough for the top row: 1234, 12.3k, 45.6M.
std::string Short(std::uint64_t bytes) {
    char text[32];
    if (bytes < 100'000) {
        std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(bytes));
    } else if (bytes < 100'000'000) {
        std::snprintf(text, sizeof text, "%.1fk", static_cast<double>(bytes) / 1e3);
    } else {
        std::snprintf(text, sizeof text, "%.1fM", static_cast<double>(bytes) / 1e6);
    }
    return text;
}

}  // namespace

void Tfrmmain::BuildLinePage() {
    TabSheet9 = new QWidget;
    TabSheet9->setObjectName(QStringLiteral("TabSheet9"));
    PageControl1->addTab(TabSheet9, QStringLiteral("&Line"));
    QWidget* page = TabSheet9;

    const auto selector = [this, page](const char* name, int left, int width,
                                       cport::TComProperty property) {
        auto* box = Put(new cport::TComComboBox(page), name, left, 8, width, 21);
        box->SetComProperty(property);
        box->SetAutoApply(true);
        return box;
    };
    Caption(page, "Data bits:", 10, 8);
    ComComboBox4 = selector("ComComboBox4", 70, 45, cport::cpDataBits);
    Caption(page, "Stop bits:", 130, 8);
    ComComboBox5 = selector("ComComboBox5", 190, 45, cport::cpStopBits);
    Caption(page, "Flow control:", 250, 8);
    ComComboBox6 = selector("ComComboBox6", 325, 80, cport::cpFlowControl);
    Caption(page, "Custom baud rate:", 420, 8);
    Edit2 = Put(new QLineEdit(page), "Edit2", 520, 8, 80, 21);
    Edit2->setToolTip(QStringLiteral("Any rate in bits per second; Enter uses it"));

    Caption(page, "Timestamps:", 10, 45);
    ComboBox2 = Put(new QComboBox(page), "ComboBox2", 110, 45, 150, 21);
    for (const char* item : kTimestampItems) ComboBox2->addItem(QString::fromLatin1(item));
    CheckBox3 = Put(new QCheckBox(QStringLiteral("Sent blocks in the log (\">> \")"), page),
                    "CheckBox3", 280, 47, 220, 17);
    CheckBox9 = Put(new QCheckBox(QStringLiteral("Text view"), page), "CheckBox9", 510, 47, 140, 17);
    CheckBox9->setToolTip(QStringLiteral(
        "Received bytes as text: printable ASCII as itself, \\r \\n \\t, other bytes as \\xHH; "
        "for the lines that arrive from now on"));

    Caption(page, "One line per message:", 10, 80);
    ComboBox3 = Put(new QComboBox(page), "ComboBox3", 130, 80, 180, 21);
    for (const char* item : kMessageItems) ComboBox3->addItem(QString::fromLatin1(item));
    Caption(page, "ms:", 320, 80);
    Edit3 = Put(new QLineEdit(QStringLiteral("10"), page), "Edit3", 345, 80, 50, 21);
    Caption(page, "End byte:", 410, 80);
    ComboBox4 = Put(new QComboBox(page), "ComboBox4", 465, 80, 80, 21);
    ComboBox4->setEditable(true);
    ComboBox4->setInsertPolicy(QComboBox::NoInsert);
    ComboBox4->addItems({QStringLiteral("CR"), QStringLiteral("LF")});
    ComboBox4->setToolTip(QStringLiteral("CR, LF, or a byte in the notation: 0x03, 3, \"A\""));

    CheckBox4 = Put(new QCheckBox(QStringLiteral("Line events in the log (\"== \")"), page),
                    "CheckBox4", 10, 115, 260, 17);

    Caption(page, "Lines:", 280, 115);
    int left = 320;
    for (auto [lamp, name] : {std::pair{&Label23, "Label23"}, std::pair{&Label24, "Label24"},
                              std::pair{&Label25, "Label25"}, std::pair{&Label26, "Label26"}}) {
        static const char* const kLampCaptions[] = {"CTS", "DSR", "DCD", "RI"};
        *lamp = Put(new QLabel(QString::fromLatin1(kLampCaptions[(left - 320) / 40]), page), name,
                    left, 114, 36, 19);
        (*lamp)->setAlignment(Qt::AlignCenter);
        left += 40;
    }

    Caption(page, "Timer stops after:", 490, 115);
    Edit5 = Put(new QLineEdit(page), "Edit5", 590, 115, 45, 21);
    Edit5->setToolTip(QStringLiteral("Sends of the timer; empty or 0: it runs until switched off"));
    Caption(page, "sends", 640, 115);

    Label22 = Put(new QLabel(page), "Label22", 10, 150, 640, 17);

    Label21 = Put(new QLabel(this), "Label21", 562, 5, 116, 17);
    Anchor(Label21, Qt::LeftEdge | Qt::TopEdge | Qt::RightEdge, kClientSize);

    rateTimer_ = new QTimer(this);
    rateTimer_->setSingleShot(true);
    rateTimer_->setInterval(1000);
    connect(rateTimer_, &QTimer::timeout, this, [this] { ShowLineState(); });
}

void Tfrmmain::ConnectLineHandlers() {
    connect(ComboBox2, &QComboBox::activated, this, Command(&Tfrmmain::LogOptionsChange));
    connect(ComboBox3, &QComboBox::activated, this, Command(&Tfrmmain::LogOptionsChange));
    connect(CheckBox3, &QCheckBox::toggled, this, Command(&Tfrmmain::LogOptionsChange));
    connect(CheckBox4, &QCheckBox::toggled, this, Command(&Tfrmmain::LogOptionsChange));
    connect(CheckBox9, &QCheckBox::toggled, this, Command(&Tfrmmain::LogOptionsChange));
    connect(Edit3, &QLineEdit::editingFinished, this, Command(&Tfrmmain::LogOptionsChange));
    connect(ComboBox4, &QComboBox::activated, this, Command(&Tfrmmain::LogOptionsChange));
    connect(ComboBox4->lineEdit(), &QLineEdit::editingFinished, this,
            Command(&Tfrmmain::LogOptionsChange));
    connect(Edit2, &QLineEdit::returnPressed, this, Command(&Tfrmmain::Edit2Apply));
    connect(Edit5, &QLineEdit::editingFinished, this, Command(&Tfrmmain::LogOptionsChange));
    connect(PageControl1, &QTabWidget::currentChanged, this, [this] { ShowLineState(); });
    // The automatic gap follows the rate and framing the user chooses.
    for (cport::TComComboBox* box : {ComComboBox2, ComComboBox3, ComComboBox4, ComComboBox5}) {
        connect(box, &cport::TComComboBox::Changed, this, [this] {
            if (C1 == nullptr || options_.messages != TMessageRule::GapAuto)
                return;
            CloseMessage();
            framer_ = timeline::Framer(CurrentRule());
        });
    }
}

void Tfrmmain::LogOptionsChange() {
    TLineOptions options = options_;
    options.timestamps = static_cast<timeline::TimestampMode>(ComboBox2->currentIndex());
    options.logSent = CheckBox3->isChecked();
    options.messages = static_cast<TMessageRule>(ComboBox3->currentIndex());
    options.logEvents = CheckBox4->isChecked();
    options.display = CheckBox9->isChecked() ? TDisplayForm::TextForm : TDisplayForm::AsTicked;
    // A value the rule does not use may be anything; the rule in use must
    // have one it can take, else the options stay as they were.
    std::int32_t gapMs = 0;
    try {
        gapMs = StrToInt(ToText(Edit3->text()));
    } catch (const EConvertError&) {
        if (options.messages == TMessageRule::GapMs)
            throw;
    }
    if (gapMs > 0) {
        options.gapMs = gapMs;
    } else if (options.messages == TMessageRule::GapMs) {
        throw ELineOption("The quiet time must be at least 1 ms, not " + std::to_string(gapMs));
    }
    if (const auto end = ParseEndByte(ToText(ComboBox4->currentText()))) {
        options.endByte = *end;
    } else if (options.messages == TMessageRule::EndByte) {
        throw ELineOption("'" + ToText(ComboBox4->currentText()) +
                          "' is not an end byte: give CR, LF, or one byte such as 0x03");
    }
    const QString count = Edit5->text().trimmed();
    if (count.isEmpty()) {
        options.sendCount = 0;
    } else {
        const std::int32_t sends = StrToInt(ToText(count));
        if (sends < 0)
            throw ELineOption("The timer's sends must be 0 or more, not " + std::to_string(sends));
        options.sendCount = sends;
    }
    // The message being gathered is shown under the rule it began with; a
    // change elsewhere (or the focus leaving a box) leaves it gathering.
    const bool ruleChanged = options.messages != options_.messages ||
                             options.gapMs != options_.gapMs || options.endByte != options_.endByte;
    if (ruleChanged)
        CloseMessage();
    options_ = options;
    if (ruleChanged)
        framer_ = timeline::Framer(CurrentRule());
    ShowDisplayForm();
}

void Tfrmmain::Edit2Apply() {
    const std::int32_t rate = StrToInt(ToText(Edit2->text()));
    if (rate <= 0)
        throw ELineOption("A baud rate must be above 0, not " + std::to_string(rate));
    C1->SetCustomBaudRate(rate);
    C1->SetBaudRate(cport::brCustom);
    ComComboBox2->SetText(cport::BaudRateToText(cport::brCustom));
    framer_ = timeline::Framer(CurrentRule());
}

void Tfrmmain::ApplyPortOptions(const TLineOptions& options) {
    if (options.parity)
        C1->Parity().SetBits(*options.parity);
    if (options.dataBits)
        C1->SetDataBits(*options.dataBits);
    if (options.stopBits)
        C1->SetStopBits(*options.stopBits);
    if (options.flowControl)
        C1->FlowControl().SetFlowControl(*options.flowControl);
    if (options.baudRate) {
        // A listed rate is chosen as such; any other becomes the custom rate.
        const Text text = std::to_string(*options.baudRate);
        const cport::TBaudRate listed = cport::TextToBaudRate(text);
        if (cport::BaudRateToText(listed) == text) {
            C1->SetBaudRate(listed);
        } else {
            C1->SetCustomBaudRate(*options.baudRate);
            C1->SetBaudRate(cport::brCustom);
        }
    }
}

void Tfrmmain::SetLineOptions(const TLineOptions& options) {
    ApplyPortOptions(options);
    if (options.baudRate) {
        ComComboBox2->SetText(cport::BaudRateToText(C1->BaudRate()));
        if (C1->BaudRate() == cport::brCustom)
            Edit2->setText(QString::number(*options.baudRate));
    }
    ComComboBox3->SetText(cport::ParityToText(C1->Parity().Bits()));
    ComComboBox4->SetText(cport::DataBitsToText(C1->DataBits()));
    ComComboBox5->SetText(cport::StopBitsToText(C1->StopBits()));
    ComComboBox6->SetText(cport::FlowControlToText(C1->FlowControl().FlowControl()));
    {
        const QSignalBlocker quiet3(CheckBox3);
        const QSignalBlocker quiet4(CheckBox4);
        const QSignalBlocker quiet9(CheckBox9);
        CheckBox9->setChecked(options.display == TDisplayForm::TextForm);
        if (options.asciiUnticked)
            CheckBox2->setChecked(false);
        ComboBox2->setCurrentIndex(static_cast<int>(options.timestamps));
        CheckBox3->setChecked(options.logSent);
        ComboBox3->setCurrentIndex(static_cast<int>(options.messages));
        Edit3->setText(QString::number(options.gapMs));
        const char* named = options.endByte == '\r'   ? "CR"
                            : options.endByte == '\n' ? "LF"
                                                      : nullptr;
        ComboBox4->setEditText(named != nullptr ? QString::fromLatin1(named)
                                                : QStringLiteral("0x%1").arg(options.endByte, 2, 16,
                                                                             QLatin1Char('0')));
        CheckBox4->setChecked(options.logEvents);
        Edit5->setText(options.sendCount > 0 ? QString::number(options.sendCount) : QString());
        CheckBox7->setChecked(options.reconnect);
    }
    CloseMessage();
    options_ = options;
    ShowCheckOption();
    framer_ = timeline::Framer(CurrentRule());
    ShowDisplayForm();
}

void Tfrmmain::ShowLineState() {
    if (Label21 == nullptr)
        return;
    const bool open = C1 != nullptr && C1->Connected();
    const std::int64_t now = timeline::Now().monotonicUs;
    if (now - rateSinceUs_ >= 1'000'000) {
        rate_ = (receivedBytes_ - rateBytes_) * 1'000'000 /
                static_cast<std::uint64_t>(now - rateSinceUs_);
        rateSinceUs_ = now;
        rateBytes_ = receivedBytes_;
    }
    // The rate shows on the line page only, and only there is it kept up:
    // once arrivals stop, one more look takes it down to 0, and an idle port
    // then costs nothing.
    if (PageControl1->currentWidget() == TabSheet9 &&
        (rateBytes_ != receivedBytes_ || rate_ != 0)) {
        if (!rateTimer_->isActive())
            rateTimer_->start();
    }
    // A lost line stays open (Stop closes it) until its device is back.
    const char* state = !open                  ? "closed"
                        : !C1->LineLost()      ? "open"
                        : C1->ReopenOnReturn() ? "waiting"
                                               : "lost";
    const QString top =
        QStringLiteral("%1  Rx %2  Tx %3")
            .arg(QLatin1String(state), QString::fromStdString(Short(receivedBytes_)),
                 QString::fromStdString(Short(sentBytes_)));
    if (Label21->text() != top) {
        Label21->setText(top);
        const bool lost = open && C1->LineLost() && !lossReason_.empty();
        Label21->setToolTip(
            QStringLiteral("Port %1; received %2 bytes, sent %3 bytes since Start")
                .arg(lost ? QStringLiteral("%1 (%2)").arg(QLatin1String(state),
                                                          QString::fromStdString(lossReason_))
                          : QLatin1String(state))
                .arg(receivedBytes_)
                .arg(sentBytes_));
    }
    // The kernel's counts where the driver keeps them; else those the line
    // events brought, once there were any.
    const auto counts = [](auto frame, auto parity, auto overrun, auto brk) {
        return QStringLiteral("frame %1, parity %2, overrun %3, break %4")
            .arg(frame)
            .arg(parity)
            .arg(overrun)
            .arg(brk);
    };
    const QString errors =
        kernelCounts_
            ? counts(kernelCounts_->frame, kernelCounts_->parity,
                     kernelCounts_->overrun + kernelCounts_->bufferOverrun, kernelCounts_->brk)
        : errorsCounted_ ? counts(frameErrors_, parityErrors_, overruns_, breaks_)
                         : QStringLiteral("not available");
    const QString page = QStringLiteral(
                             "Port %1. Since Start: received %2 bytes (%3 bytes/s), sent %4 bytes. "
                             "Line errors: %5.")
                             .arg(QLatin1String(state))
                             .arg(receivedBytes_)
                             .arg(rate_)
                             .arg(sentBytes_)
                             .arg(errors);
    if (Label22->text() != page)
        Label22->setText(page);
    ShowVerdictCounts();
}

}  // namespace tarvik
