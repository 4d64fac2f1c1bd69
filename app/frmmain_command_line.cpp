// The command line and the history as a terminal user drives them: Enter in
// the command line presses Send, a double click on a history line sends that
// line, and the command line's context menu appends check values and turns
// text and hex dumps into the notation. What Send does stays its own.

#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>

#include "app/command_line_menu.h"
#include "app/frmmain.h"

namespace tarvik {

void Tfrmmain::ConnectCommandLine() {
    // As the timer does, Enter runs Send's handler whatever the button's
    // state: with the port closed the user learns so ("Not Connected")
    // instead of nothing happening.
    connect(ComboBox1->lineEdit(), &QLineEdit::returnPressed, this,
            Command(&Tfrmmain::BitBtn1Click));
    connect(TX1, &QAbstractItemView::doubleClicked, this, Command(&Tfrmmain::TX1DblClick));
    auto* menu = new TCommandLineMenu(ComboBox1);
    menu->SetMoreItems([this](QMenu* items) { AddTransferItems(items); });
}

void Tfrmmain::TX1DblClick(const QModelIndex& line) {
    RadioButton2->setChecked(true);
    TX1->setCurrentRow(line.row());
    BitBtn1Click();
}

}  // namespace tarvik
