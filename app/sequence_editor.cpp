#include "app/sequence_editor.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <array>

#include "app/default_error.h"
#include "sequences/sequence_file.h"

namespace tarvik {

namespace {

const QStringList kSendColumns = {"Name", "Line", "Check value", "Key", "Repeat", "Interval ms"};
const QStringList kRuleColumns = {"Name", "Pattern", "Check value", "Answer", "Delay ms",
                                  "Mark", "Count",   "Stop timer",  "Enabled"};

QString FromText(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string Cell(const QTableWidget* table, int row, int column) {
    const QTableWidgetItem* item = table->item(row, column);
    return item == nullptr ? std::string() : item->text().trimmed().toLatin1().toStdString();
}

void SetRow(QTableWidget* table, int row, const QStringList& cells) {
    for (int column = 0; column < cells.size(); ++column)
        table->setItem(row, column, new QTableWidgetItem(cells[column]));
}

QString YesNo(bool value) {
    return value ? QStringLiteral("yes") : QStringLiteral("no");
}

QTableWidget* Table(QWidget* parent, const char* name, const QStringList& columns) {
    auto* table = new QTableWidget(0, static_cast<int>(columns.size()), parent);
    table->setObjectName(QString::fromLatin1(name));
    table->setHorizontalHeaderLabels(columns);
    table->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    return table;
}

// The tables as the file's text: the file's own checks then judge them,
// with the same words, and a set saved from here loads again.
std::string AsFileText(const QTableWidget* sends, const QTableWidget* rules) {
    std::string text;
    const auto line = [&text](const char* key, const std::string& value) {
        if (!value.empty())
            text += std::string(key) + " = " + value + "\n";
    };
    for (int row = 0; row < sends->rowCount(); ++row) {
        text += "[send " + Cell(sends, row, 0) + "]\n";
        for (int column = 1; column < 6; ++column)
            line(std::array{"", "line", "check", "key", "repeat", "interval"}[std::size_t(column)],
                 Cell(sends, row, column));
    }
    for (int row = 0; row < rules->rowCount(); ++row) {
        text += "[rule " + Cell(rules, row, 0) + "]\n";
        for (int column = 1; column < 9; ++column)
            line(std::array{"", "pattern", "check", "answer", "delay", "mark", "count",
                            "stop timer", "enabled"}[std::size_t(column)],
                 Cell(rules, row, column));
    }
    return text;
}

}  // namespace

std::optional<sequences::SequenceSet> EditSequenceSet(QWidget* parent,
                                                      const sequences::SequenceSet& set) {
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("SequenceEditor"));
    dialog.setWindowTitle(QStringLiteral("Sequence set"));
    dialog.resize(760, 480);
    auto* column = new QVBoxLayout(&dialog);

    QTableWidget* sends = Table(&dialog, "SendTable", kSendColumns);
    for (const sequences::SendSequence& send : set.sends) {
        sends->insertRow(sends->rowCount());
        SetRow(sends, sends->rowCount() - 1,
               {FromText(send.name), FromText(send.line), FromText(send.check),
                FromText(sequences::KeyName(send.key, send.shift)), QString::number(send.repeat),
                QString::number(send.intervalMs)});
    }
    QTableWidget* rules = Table(&dialog, "RuleTable", kRuleColumns);
    for (const sequences::ReceiveRule& rule : set.rules) {
        rules->insertRow(rules->rowCount());
        SetRow(rules, rules->rowCount() - 1,
               {FromText(rule.name), FromText(rule.pattern), FromText(rule.check),
                FromText(rule.answer), QString::number(rule.delayMs), YesNo(rule.mark),
                YesNo(rule.count), YesNo(rule.stopTimer), YesNo(rule.enabled)});
    }

    const auto section = [&dialog, column](const char* caption, QTableWidget* table,
                                           const QStringList& fresh) {
        column->addWidget(new QLabel(QString::fromLatin1(caption), &dialog));
        column->addWidget(table, 1);
        auto* row = new QHBoxLayout;
        auto* add = new QPushButton(QStringLiteral("Add"), &dialog);
        auto* remove = new QPushButton(QStringLiteral("Remove"), &dialog);
        // Enter is OK wherever the focus is, never one more row.
        add->setAutoDefault(false);
        remove->setAutoDefault(false);
        row->addWidget(add);
        row->addWidget(remove);
        row->addStretch(1);
        column->addLayout(row);
        QObject::connect(add, &QPushButton::clicked, table, [table, fresh] {
            table->insertRow(table->rowCount());
            SetRow(table, table->rowCount() - 1, fresh);
            table->setCurrentCell(table->rowCount() - 1, 0);
        });
        QObject::connect(remove, &QPushButton::clicked, table, [table] {
            if (table->currentRow() >= 0)
                table->removeRow(table->currentRow());
        });
    };
    section("Send sequences:", sends, {"send", "", "", "", "1", "0"});
    section("Receive rules:", rules, {"rule", "", "", "", "0", "no", "yes", "no", "yes"});

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    column->addWidget(buttons);
    std::optional<sequences::SequenceSet> result;
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
        try {
            result = sequences::ParseSequenceSet(AsFileText(sends, rules), "the set");
            dialog.accept();
        } catch (const std::exception& error) {
            ShowDefaultError(error);
        }
    });
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return result;
}

}  // namespace tarvik
