// The sequences page after "Line": the set's send sequences on buttons and
// function keys, its receive rules with a tick and a count each, and the
// answers the rules give. With no set loaded nothing here acts: no key is
// taken, every arrival goes its way as before.

#include <QCheckBox>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "app/frmmain.h"
#include "app/guarded.h"
#include "app/sequence_editor.h"
#include "sequences/sequence_file.h"
#include "serial/port/com_port.h"

namespace tarvik {

namespace {

constexpr int kButtonColumns = 4;
enum RuleColumn { kRuleName, kRulePattern, kRuleActions, kRuleCount, kRuleColumns };

QString FromText(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string Actions(const sequences::ReceiveRule& rule) {
    std::string text;
    const auto add = [&text](const std::string& action) {
        text += (text.empty() ? "" : ", ") + action;
    };
    if (!rule.answer.empty())
        add("answer " + rule.answer +
            (rule.delayMs > 0 ? " after " + std::to_string(rule.delayMs) + " ms" : ""));
    if (rule.mark)
        add("mark");
    if (rule.count)
        add("count");
    if (rule.stopTimer)
        add("stop timer");
    return text;
}

}  // namespace

void Tfrmmain::BuildSequencesPage() {
    TabSheet10 = new QWidget;
    TabSheet10->setObjectName(QStringLiteral("TabSheet10"));
    PageControl1->addTab(TabSheet10, QStringLiteral("Se&quences"));
    auto* column = new QVBoxLayout(TabSheet10);
    column->setContentsMargins(8, 6, 8, 6);

    Label29 = new QLabel(QStringLiteral("No sequence set loaded"), TabSheet10);
    Label29->setObjectName(QStringLiteral("Label29"));
    column->addWidget(Label29);

    auto* scroll = new QScrollArea(TabSheet10);
    scroll->setWidgetResizable(true);
    scroll->setFixedHeight(88);
    Panel2 = new QWidget;
    Panel2->setObjectName(QStringLiteral("Panel2"));
    new QGridLayout(Panel2);
    scroll->setWidget(Panel2);
    column->addWidget(scroll);

    StringGrid1 = new QTableWidget(0, kRuleColumns, TabSheet10);
    StringGrid1->setObjectName(QStringLiteral("StringGrid1"));
    StringGrid1->setHorizontalHeaderLabels({QStringLiteral("Rule"), QStringLiteral("Pattern"),
                                            QStringLiteral("Actions"), QStringLiteral("Count")});
    StringGrid1->horizontalHeader()->setSectionResizeMode(kRuleActions, QHeaderView::Stretch);
    StringGrid1->verticalHeader()->hide();
    StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    column->addWidget(StringGrid1, 1);

    auto* row = new QHBoxLayout;
    const auto button = [this, row](const char* name, const char* caption) {
        auto* b = new QPushButton(QString::fromLatin1(caption), TabSheet10);
        b->setObjectName(QString::fromLatin1(name));
        row->addWidget(b);
        return b;
    };
    BitBtn11 = button("BitBtn11", "E&dit...");
    BitBtn12 = button("BitBtn12", "L&oad...");
    BitBtn13 = button("BitBtn13", "Sa&ve...");
    row->addStretch(1);
    column->addLayout(row);

    OpenDialog2.kind = FileDialogKind::Open;
    OpenDialog2.caption = QStringLiteral("Load a sequence set");
    OpenDialog2.filter = QStringLiteral("Sequence sets|*.seq|All files|*");
    SaveDialog2 = OpenDialog2;
    SaveDialog2.kind = FileDialogKind::Save;
    SaveDialog2.caption = QStringLiteral("Save the sequence set");
    sequenceTimers_ = new QObject(this);
}

void Tfrmmain::ConnectSequenceHandlers() {
    connect(BitBtn11, &QPushButton::clicked, this, Command(&Tfrmmain::BitBtn11Click));
    connect(BitBtn12, &QPushButton::clicked, this, Command(&Tfrmmain::BitBtn12Click));
    connect(BitBtn13, &QPushButton::clicked, this, Command(&Tfrmmain::BitBtn13Click));
    connect(StringGrid1, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (item->column() == kRuleName && std::size_t(item->row()) < ruleMatcher_.Size())
            ruleMatcher_.SetEnabled(std::size_t(item->row()), item->checkState() == Qt::Checked);
    });
}

void Tfrmmain::LoadSequences(const std::string& fileName) {
    SetSequences(sequences::LoadSequenceSet(fileName));
    Label29->setText(QFile::decodeName(fileName.c_str()));
}

void Tfrmmain::SetSequences(const sequences::SequenceSet& set) {
    sequences::RuleMatcher matcher(set);  // before anything changes: it may refuse
    delete sequenceTimers_;               // repeats and delayed answers of the old set end
    sequenceTimers_ = new QObject(this);
    sequenceSet_ = set;
    ruleMatcher_ = std::move(matcher);
    Label29->setText(set.Empty() ? QStringLiteral("No sequence set loaded")
                                 : QStringLiteral("Sequence set from the editor"));
    ShowSequences();
}

void Tfrmmain::ShowSequences() {
    for (QPushButton* b : sequenceButtons_) delete b;
    for (QShortcut* key : sequenceKeys_) delete key;
    sequenceButtons_.clear();
    sequenceKeys_.clear();
    auto* grid = static_cast<QGridLayout*>(Panel2->layout());
    for (std::size_t i = 0; i < sequenceSet_.sends.size(); ++i) {
        const sequences::SendSequence& send = sequenceSet_.sends[i];
        std::string caption = send.name;
        if (send.key != 0)
            caption += " (" + sequences::KeyName(send.key, send.shift) + ")";
        auto* b = new QPushButton(FromText(caption), Panel2);
        b->setObjectName(QStringLiteral("Sequence%1").arg(i + 1));
        b->setToolTip(FromText(send.line));
        grid->addWidget(b, int(i) / kButtonColumns, int(i) % kButtonColumns);
        connect(b, &QPushButton::clicked, this, [this, i] {
            FlushRxLines();
            try {
                SendSequence(i);
            } catch (const std::exception& error) {
                ShowDefaultError(error);
            }
        });
        sequenceButtons_.push_back(b);
        if (send.key != 0) {
            const QKeySequence keys((send.shift ? Qt::ShiftModifier : Qt::NoModifier) |
                                    Qt::Key(Qt::Key_F1 + send.key - 1));
            auto* key = new QShortcut(keys, this);
            connect(key, &QShortcut::activated, b, &QPushButton::click);
            sequenceKeys_.push_back(key);
        }
    }
    {
        const QSignalBlocker quiet(StringGrid1);
        StringGrid1->setRowCount(int(ruleMatcher_.Size()));
        for (std::size_t i = 0; i < ruleMatcher_.Size(); ++i) {
            const sequences::ReceiveRule& rule = ruleMatcher_.Rule(i);
            auto* name = new QTableWidgetItem(FromText(rule.name));
            name->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
            name->setCheckState(rule.enabled ? Qt::Checked : Qt::Unchecked);
            StringGrid1->setItem(int(i), kRuleName, name);
            StringGrid1->setItem(
                int(i), kRulePattern,
                new QTableWidgetItem(
                    FromText(rule.pattern + (rule.check.empty() ? "" : " + " + rule.check))));
            StringGrid1->setItem(int(i), kRuleActions,
                                 new QTableWidgetItem(FromText(Actions(rule))));
            StringGrid1->setItem(int(i), kRuleCount, new QTableWidgetItem);
        }
    }
    ShowRuleCounts();
    ShowSequenceButtons();
}

void Tfrmmain::ShowRuleCounts() {
    const QSignalBlocker quiet(StringGrid1);
    for (std::size_t i = 0; i < ruleMatcher_.Size(); ++i) {
        if (QTableWidgetItem* count = StringGrid1->item(int(i), kRuleCount))
            count->setText(ruleMatcher_.Rule(i).count
                               ? QString::number(ruleMatcher_.Figures(i).matched)
                               : QStringLiteral("-"));
    }
}

void Tfrmmain::ShowSequenceButtons() {
    const bool open = C1 != nullptr && C1->Connected();
    for (QPushButton* b : sequenceButtons_) b->setEnabled(open);
    // What a closed port left half matched is no start for the next session.
    if (!open)
        ruleMatcher_.ResetStream();
}

std::int64_t Tfrmmain::WriteSequence(const sequences::SendSequence& send) {
    const std::string bytes = sequences::EncodeSend(send);
    const timeline::Moment handedOver = timeline::Now();
    const std::int32_t written = C1->Write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    CaptureSent(bytes, written);
    sentBytes_ += static_cast<std::uint64_t>(std::max(written, 0));
    const cport::LineTime handed = C1->LastWriteTimes().first;
    const timeline::Moment at =
        handed.Valid() ? timeline::Moment{handed.monoUs, handed.wallUs} : handedOver;
    if (options_.logSent && written > 0)
        answersToLog_.push_back({bytes.substr(0, std::size_t(written)), at});
    if (written != static_cast<std::int32_t>(bytes.size()))
        throw std::runtime_error("Only " + std::to_string(written) + " of " +
                                 std::to_string(bytes.size()) +
                                 " bytes were sent; the write time-out ran out");
    return at.monotonicUs;
}

void Tfrmmain::SendSequence(std::size_t index) {
    if (index >= sequenceSet_.sends.size() || !C1->Connected())
        return;
    RepeatSequence(index, sequenceSet_.sends[index].repeat);
}

void Tfrmmain::RepeatSequence(std::size_t index, int repeatsLeft) {
    if (!C1->Connected())
        return;
    const sequences::SendSequence& send = sequenceSet_.sends[index];
    try {
        WriteSequence(send);
    } catch (...) {
        LogAnswers();
        throw;
    }
    LogAnswers();
    ShowLineState();
    if (repeatsLeft > 1) {
        QTimer::singleShot(send.intervalMs, Qt::PreciseTimer, sequenceTimers_,
                           [this, index, repeatsLeft] {
                               try {
                                   RepeatSequence(index, repeatsLeft - 1);
                               } catch (const std::exception& error) {
                                   ShowDefaultError(error);
                               }
                           });
    }
}

std::string Tfrmmain::AnswerReceived(std::string_view bytes, bool message,
                                     std::int64_t lastByteUs) {
    if (ruleMatcher_.Size() == 0)
        return {};
    ruleMatches_.clear();
    if (message)
        ruleMatcher_.MatchMessage(bytes, ruleMatches_);
    else
        ruleMatcher_.MatchStream(bytes, ruleMatches_);
    if (ruleMatches_.empty())
        return {};
    if (lastByteUs <= 0)  // a read that took no time stamp: the time is now
        lastByteUs = timeline::Now().monotonicUs;
    std::string marks;
    bool counted = false;
    for (const sequences::RuleMatch& match : ruleMatches_) {
        const sequences::ReceiveRule& rule = ruleMatcher_.Rule(match.rule);
        if (!rule.answer.empty()) {
            if (rule.delayMs == 0) {
                AnswerRule(match.rule, lastByteUs, sequenceSet_.FindSend(rule.answer)->repeat);
            } else {
                QTimer::singleShot(
                    rule.delayMs, Qt::PreciseTimer, sequenceTimers_,
                    [this, index = match.rule, lastByteUs] {
                        AnswerRule(index, lastByteUs,
                                   sequenceSet_.FindSend(ruleMatcher_.Rule(index).answer)->repeat);
                        LogAnswers();
                    });
            }
        }
        if (rule.mark)
            marks += " [" + rule.name + "]";
        counted = counted || rule.count;
        if (rule.stopTimer && CheckBox1->isChecked()) {
            const QSignalBlocker quiet(CheckBox1);
            CheckBox1->setChecked(false);
            T1->SetEnabled(false);
        }
    }
    if (counted)
        ShowRuleCounts();
    return marks;
}

void Tfrmmain::AnswerRule(std::size_t rule, std::int64_t lastByteUs, int repeatsLeft) {
    // Runs where an arrival is handled: an error is shown, and reception goes on.
    if (!C1->Connected())
        return;
    const sequences::SendSequence& send = *sequenceSet_.FindSend(ruleMatcher_.Rule(rule).answer);
    try {
        const std::int64_t handedUs = WriteSequence(send);
        // A repeat's time would count its interval: the first answer's alone.
        if (repeatsLeft == send.repeat)
            ruleMatcher_.Answered(rule, handedUs - lastByteUs);
    } catch (const std::exception& error) {
        ShowDefaultError(error);
        return;
    }
    if (repeatsLeft > 1) {
        QTimer::singleShot(send.intervalMs, Qt::PreciseTimer, sequenceTimers_,
                           [this, rule, lastByteUs, repeatsLeft] {
                               AnswerRule(rule, lastByteUs, repeatsLeft - 1);
                               LogAnswers();
                           });
    }
}

void Tfrmmain::LogAnswers() {
    if (answersToLog_.empty())
        return;
    std::vector<AnswerToLog> answers;
    answers.swap(answersToLog_);
    for (const AnswerToLog& answer : answers) LogSent(answer.bytes, answer.at);
}

namespace {

// The set with the ticks the user gave its rules.
sequences::SequenceSet AsTicked(sequences::SequenceSet set, const sequences::RuleMatcher& rules) {
    for (std::size_t i = 0; i < set.rules.size() && i < rules.Size(); ++i)
        set.rules[i].enabled = rules.Rule(i).enabled;
    return set;
}

}  // namespace

void Tfrmmain::BitBtn11Click() {
    if (std::optional<sequences::SequenceSet> edited =
            EditSequenceSet(this, AsTicked(sequenceSet_, ruleMatcher_))) {
        // A set loaded from a file keeps its name, marked as changed since.
        const QString file = sequenceSet_.Empty() ? QString() : Label29->text();
        SetSequences(*edited);
        if (!edited->Empty() && !file.isEmpty())
            Label29->setText(file.endsWith(QStringLiteral(" (edited)"))
                                 ? file
                                 : file + QStringLiteral(" (edited)"));
    }
}

void Tfrmmain::BitBtn12Click() {
    OpenDialog2.initialDir = LastPath.left(LastPath.lastIndexOf(QLatin1Char('/')) + 1);
    const FileDialogAnswer chosen = ShowFileDialog(OpenDialog2);
    if (!chosen)
        return;
    LastPath = *chosen;
    LoadSequences(QFile::encodeName(*chosen).toStdString());
}

void Tfrmmain::BitBtn13Click() {
    SaveDialog2.initialDir = LastPath.left(LastPath.lastIndexOf(QLatin1Char('/')) + 1);
    const FileDialogAnswer chosen = ShowFileDialog(SaveDialog2);
    if (!chosen)
        return;
    LastPath = *chosen;
    sequences::SaveSequenceSet(QFile::encodeName(*chosen).toStdString(),
                               AsTicked(sequenceSet_, ruleMatcher_));
    Label29->setText(*chosen);
}

}  // namespace tarvik
