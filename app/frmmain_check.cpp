// "Check received messages with" on the line page: each received line then
// ends with a mark saying whether its last bytes are the chosen check value.

#include <QComboBox>
#include <QLabel>

#include "app/frmmain.h"
#include "codec/received_check.h"
#include "codec/check_value.h"

namespace tarvik {

void Tfrmmain::BuildCheckOption() {
    auto* caption = new QLabel(QStringLiteral("Check received messages with:"), TabSheet9);
    caption->move(10, 258);
    caption->adjustSize();
    ComboBox5 = new QComboBox(TabSheet9);
    ComboBox5->setObjectName(QStringLiteral("ComboBox5"));
    ComboBox5->setGeometry(185, 255, 280, 21);
    ComboBox5->addItem(QStringLiteral("None"));
    for (const fun::TCheckValue& check : fun::CheckValues())
        ComboBox5->addItem(QString::fromStdString(fun::CheckValueCaption(check)));
    ComboBox5->setToolTip(
        QStringLiteral("Each received line ends with \"ok\", or \"bad\" and the value expected"));
    Label30 = new QLabel(TabSheet9);
    Label30->setObjectName(QStringLiteral("Label30"));
    Label30->setGeometry(475, 258, 190, 17);
    Label30->setToolTip(QStringLiteral("Received lines checked since Start"));
    ShowVerdictCounts();
}

void Tfrmmain::ShowVerdictCounts() {
    if (Label30 == nullptr)
        return;
    const QString counts = QStringLiteral("ok %1, bad %2, too short %3")
                               .arg(okLines_)
                               .arg(badLines_)
                               .arg(shortLines_);
    if (Label30->text() != counts)
        Label30->setText(counts);
}

void Tfrmmain::ConnectCheckOption() {
    connect(ComboBox5, &QComboBox::activated, this, [this](int index) {
        const auto checks = fun::CheckValues();
        // The message being gathered closes under the old check; the next
        // is framed with the new one.
        CloseMessage();
        options_.check =
            index > 0 && index <= int(checks.size()) ? &checks[std::size_t(index - 1)] : nullptr;
        framer_ = timeline::Framer(CurrentRule());
    });
}

void Tfrmmain::ShowCheckOption() {
    int index = 0;
    const auto checks = fun::CheckValues();
    for (std::size_t i = 0; i < checks.size(); ++i) {
        if (&checks[i] == options_.check)
            index = int(i) + 1;
    }
    ComboBox5->setCurrentIndex(index);
}

std::string Tfrmmain::CheckMark(std::string_view bytes) const {
    return options_.check == nullptr ? std::string() : ReceivedCheckMark(*options_.check, bytes);
}

TLineKind Tfrmmain::AppendCheckMark(Text& line, std::string_view bytes) const {
    if (options_.check == nullptr)
        return TLineKind::Plain;
    TReceivedCheck checked = CheckReceived(*options_.check, bytes);
    line += checked.mark;
    return checked.verdict;
}

}  // namespace tarvik
