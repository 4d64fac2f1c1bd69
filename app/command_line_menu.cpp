#include "app/command_line_menu.h"

#include <QComboBox>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <exception>

#include "app/command_line_edit.h"
#include "app/default_error.h"
#include "app/latin1_text.h"
#include "codec/check_value.h"
#include "codec/notation.h"

namespace tarvik {

TCommandLineMenu::TCommandLineMenu(QComboBox* box)
    : QObject(box), box_(box), line_(box->lineEdit()) {
    box_->installEventFilter(this);
    line_->installEventFilter(this);
}

bool TCommandLineMenu::eventFilter(QObject* watched, QEvent* event) {
    if ((watched != line_ && watched != box_) || event->type() != QEvent::ContextMenu)
        return false;
    Build()->popup(static_cast<QContextMenuEvent*>(event)->globalPos());
    event->accept();
    return true;
}

QMenu* TCommandLineMenu::Build() {
    QMenu* menu = line_->createStandardContextMenu();
    // Cut, copy and paste that hold for a line of megabytes too.
    if (auto* edit = qobject_cast<TCommandLineEdit*>(line_))
        edit->TakeOverEditItems(menu);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addSeparator();
    QMenu* append = menu->addMenu(QStringLiteral("Append check value"));
    append->setObjectName(QStringLiteral("AppendCheckValue"));
    for (const fun::TCheckValue& check : fun::CheckValues()) {
        QAction* item = append->addAction(QString::fromStdString(fun::CheckValueCaption(check)));
        item->setObjectName(QString::fromLatin1(check.name.data(), check.name.size()));
        connect(item, &QAction::triggered, this, [this, &check] {
            Rewrite([&check](const Text& line) { return fun::AppendCheckValue(check, line); });
        });
    }
    const auto addConversion = [&](const char* name, const char* caption, auto convert) {
        QAction* item = menu->addAction(QString::fromLatin1(caption));
        item->setObjectName(QString::fromLatin1(name));
        connect(item, &QAction::triggered, this, [this, convert] { Rewrite(convert); });
    };
    addConversion("TextToNotation", "Text to notation",
                  [](const Text& line) { return fun::TextToNotation(line); });
    addConversion("HexToNotation", "Hex to notation",
                  [](const Text& line) { return fun::HexToNotation(line); });
    if (moreItems_)
        moreItems_(menu);
    return menu;
}

void TCommandLineMenu::Rewrite(const std::function<Text(const Text&)>& convert) {
    try {
        const QString converted = FromText(convert(ToText(line_->text())));
        // One edit step, so that Ctrl+Z gives the line back.
        line_->selectAll();
        line_->insert(converted);
    } catch (const std::exception& error) {
        ShowDefaultError(error);
    }
}

}  // namespace tarvik
