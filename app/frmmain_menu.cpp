// The context menu of the send history and the receive logs: load a list from
// a text file, save it to one, copy lines into the hidden tempList, paste them
// back, copy them to the desktop's clipboard as text, clear. Every command acts on the list the menu was opened over.

#include <QAction>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <new>
#include <string_view>
#include <vector>

#include "app/frmmain.h"
#include "base/list_file.h"
#include "app/pictures.h"
#include "app/popup_menu.h"

namespace tarvik {

namespace {

const QString kTextFilter = QStringLiteral("Text|*.txt");

TLineList* Target(const TPopupMenu* menu) {
    return qobject_cast<TLineList*>(menu->PopupComponent());
}

// The directory part of a file name, up to and including the last "/".
QString DirectoryPart(const QString& fileName) {
    return fileName.left(fileName.lastIndexOf(QLatin1Char('/')) + 1);
}

// File names are bytes on Linux; the locale's encoding maps them.
std::string NativeName(const QString& fileName) {
    return QFile::encodeName(fileName).toStdString();
}

// Where Paste inserts: the focused line of a list that selects several lines,
// the selected line of the others; -1 for none.
int CurrentIndex(const TLineList* list) {
    if (list->selectionMode() == QAbstractItemView::ExtendedSelection ||
        list->selectionMode() == QAbstractItemView::MultiSelection) {
        return list->currentRow();
    }
    const QList<int> selected = list->selectedRows();
    return selected.isEmpty() ? -1 : selected.front();
}

std::tm LocalNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

}  // namespace

void Tfrmmain::BuildPopupMenu() {
    PopupMenu1 = new TPopupMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    const auto item = [this](const char* name, const char* caption, const char* picture,
                             void (Tfrmmain::*handler)()) {
        QAction* action =
            PopupMenu1->addAction(LoadTransparentPicture(picture), QString::fromLatin1(caption));
        action->setObjectName(QString::fromLatin1(name));
        connect(action, &QAction::triggered, this, Command(handler));
        return action;
    };
    const auto separator = [this](const char* name) {
        QAction* action = PopupMenu1->addSeparator();
        action->setObjectName(QString::fromLatin1(name));
        return action;
    };
    LoadThis = item("LoadThis", "Load text...", "menu_load", &Tfrmmain::LoadThisClick);
    SaveThis = item("SaveThis", "Save text...", "menu_save", &Tfrmmain::SaveThisClick);
    N2 = separator("N2");
    CopyALL = item("CopyALL", "Copy all", "menu_copyall", &Tfrmmain::CopyALLClick);
    CopyThis = item("CopyThis", "Copy", "menu_copy", &Tfrmmain::CopyThisClick);
    CopyText = item("CopyText", "Copy as text", "menu_copy", &Tfrmmain::CopyTextClick);
    PasteThis = item("PasteThis", "Paste", "menu_paste", &Tfrmmain::PasteThisClick);
    N1 = separator("N1");
    ClearThis = item("ClearThis", "Clear", "menu_clear", &Tfrmmain::ClearThisClick);

    for (TLineList* list : {TX1, RX1, RX2, RX3, RX4}) PopupMenu1->AttachTo(list);

    OpenDialog1.kind = FileDialogKind::Open;
    OpenDialog1.filter = kTextFilter;
    SaveDialog1.kind = FileDialogKind::Save;
    SaveDialog1.filter = kTextFilter;
}

void Tfrmmain::LoadThisClick() {
    TLineList* list = Target(PopupMenu1);
    if (list == nullptr)
        return;
    OpenDialog1.initialDir = DirectoryPart(LastPath);
    const FileDialogAnswer chosen = ShowFileDialog(OpenDialog1);
    if (!chosen)
        return;
    LastPath = *chosen;
    // Read everything first: a file that cannot be read leaves the list as it was.
    const std::string fileName = NativeName(LastPath);
    try {
        list->Lines()->Replace(ReadListFile(fileName));
    } catch (const std::bad_alloc&) {
        throw EFOpenError("Cannot open file \"" + fileName + "\". " + std::strerror(ENOMEM));
    }
}

void Tfrmmain::SaveThisClick() {
    TLineList* list = Target(PopupMenu1);
    if (list == nullptr)
        return;
    SaveDialog1.initialDir = DirectoryPart(LastPath);
    SaveDialog1.fileName =
        QString::fromStdString(ProposedListFileName(list->objectName().toStdString(), LocalNow()));
    const FileDialogAnswer chosen = ShowFileDialog(SaveDialog1);
    if (!chosen)
        return;
    LastPath = *chosen;
    std::vector<Text> lines;
    lines.reserve(static_cast<std::size_t>(list->count()));
    for (int i = 0; i < list->count(); ++i) lines.emplace_back(list->Lines()->Line(i));
    SaveListFile(NativeName(LastPath), lines);
}

void Tfrmmain::CopyALLClick() {
    TLineList* list = Target(PopupMenu1);
    if (list == nullptr)
        return;
    // The clipboard holds the lines last first; Paste then inserts them in that order.
    std::vector<std::string_view> reversed;
    reversed.reserve(static_cast<std::size_t>(list->count()));
    for (int i = list->count() - 1; i >= 0; --i) reversed.push_back(list->Lines()->Line(i));
    tempList->clear();
    tempList->Lines()->Insert(0, reversed);
}

void Tfrmmain::CopyThisClick() {
    TLineList* list = Target(PopupMenu1);
    if (list == nullptr)
        return;
    std::vector<std::string_view> selected;
    for (const int row : list->selectedRows()) selected.push_back(list->Lines()->Line(row));
    tempList->clear();
    tempList->Lines()->Insert(0, selected);
}

void Tfrmmain::CopyTextClick() {
    // The system clipboard, for other programs; tempList stays as it is.
    if (TLineList* list = Target(PopupMenu1))
        list->CopyToClipboard();
}

void Tfrmmain::PasteThisClick() {
    TLineList* list = Target(PopupMenu1);
    if (list == nullptr)
        return;
    // The current line moves down with each insertion, so every line lands
    // below the one pasted before it and above the line that was current:
    // the clipboard goes in as one block there, or at the end with no
    // current line.
    std::vector<std::string_view> lines;
    lines.reserve(static_cast<std::size_t>(tempList->count()));
    for (int i = 0; i < tempList->count(); ++i) lines.push_back(tempList->Lines()->Line(i));
    const int at = CurrentIndex(list);
    list->Lines()->Insert(at < 0 ? list->count() : at, lines);
}

void Tfrmmain::ClearThisClick() {
    TLineList* list = Target(PopupMenu1);
    if (list == nullptr)
        return;
    list->clear();
    list->addItem(QString());
}

}  // namespace tarvik
