// The lists' context menu on the real window: opened with the right mouse
// button or the menu key over each list, its commands chosen by mouse or
// keyboard, real files in a temporary directory, the file dialogs answered
// through the replaceable function and the error boxes recorded.

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

#include "app/file_dialog.h"
#include "app/frmmain.h"
#include "app/popup_menu.h"
#include "app/qt_file_dialog.h"
#include "app_test.h"

namespace tarvik {

// Answers every file dialog with `answer` and keeps the requests.
class DialogAnswerer {
  public:
    DialogAnswerer() {
        previous_ = SetFileDialogFunction([this](const FileDialogRequest& request) {
            requests.push_back(request);
            return answer;
        });
    }
    ~DialogAnswerer() { SetFileDialogFunction(previous_); }
    DialogAnswerer(const DialogAnswerer&) = delete;
    DialogAnswerer& operator=(const DialogAnswerer&) = delete;

    FileDialogAnswer answer;  // nothing: cancelled
    std::vector<FileDialogRequest> requests;

  private:
    FileDialogFunction previous_;
};

namespace {

QStringList Lines(const TLineList* list) {
    QStringList lines;
    for (int i = 0; i < list->count(); ++i) lines << list->text(i);
    return lines;
}

void SetLines(TLineList* list, const QStringList& lines) {
    list->clear();
    list->addItems(lines);
}

QByteArray ReadFile(const QString& name) {
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        return "<unreadable>";
    return file.readAll();
}

bool WriteFile(const QString& name, const QByteArray& content) {
    QFile file(name);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

}  // namespace

class MenuTest : public QObject {
    Q_OBJECT

  private:
    static inline QtMessageHandler previousHandler = nullptr;
    std::unique_ptr<Tfrmmain> w;
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<DialogAnswerer> dialog;
    std::unique_ptr<test::BoxRecorder> boxes;

    QString Path(const char* name) const { return dir->filePath(QString::fromLatin1(name)); }

    void ShowPageOf(TLineList* list) {
        for (int i = 0; i < w->PageControl1->count(); ++i) {
            if (w->PageControl1->widget(i)->isAncestorOf(list))
                w->PageControl1->setCurrentIndex(i);
        }
    }

    // A click delivered to the widget's window the way the window system
    // delivers it, so that Qt makes a context-menu request of a right click.
    static void ClickThroughWindow(QWidget* widget, Qt::MouseButton button, QPoint at) {
        QWindow* window = widget->window()->windowHandle();
        QTest::mouseClick(window, button, {}, window->mapFromGlobal(widget->mapToGlobal(at)));
    }

    // A right click over the line `row` of the list (below the last line for
    // -1), which opens the menu the way the user does.
    bool OpenMenuOver(TLineList* list, int row = -1) {
        ShowPageOf(list);
        QPoint at(5, list->viewport()->height() - 3);
        if (row >= 0)
            at = list->visualRowRect(row).center();
        ClickThroughWindow(list->viewport(), Qt::RightButton, at);
        return QTest::qWaitFor([&] { return w->PopupMenu1->isVisible(); }) &&
               w->PopupMenu1->PopupComponent() == list;
    }

    // A left click on the item in the open menu.
    bool Choose(QAction* item) {
        ClickThroughWindow(w->PopupMenu1, Qt::LeftButton,
                           w->PopupMenu1->actionGeometry(item).center());
        return QTest::qWaitFor([&] { return !w->PopupMenu1->isVisible(); });
    }

    bool Run(TLineList* list, QAction* item, int row = -1) {
        return OpenMenuOver(list, row) && Choose(item);
    }

  private slots:
    void initTestCase() {
        // Menus on the offscreen platform cannot raise themselves or grab the
        // keyboard; the platform says so at every opening.
        previousHandler = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext& context, const QString& message) {
                if (!message.startsWith(QStringLiteral("This plugin does not support")))
                    previousHandler(type, context, message);
            });
    }
    void cleanupTestCase() { qInstallMessageHandler(previousHandler); }

    void init() {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
        dialog = std::make_unique<DialogAnswerer>();
        boxes = std::make_unique<test::BoxRecorder>();
        w = std::make_unique<Tfrmmain>();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    }
    void cleanup() {
        w.reset();
        boxes.reset();
        dialog.reset();
        dir.reset();
    }

    void items() {
        const QList<QAction*> actions = w->PopupMenu1->actions();
        const QList<QAction*> expected = {w->LoadThis, w->SaveThis,  w->N2,
                                          w->CopyALL,  w->CopyThis,  w->CopyText,
                                          w->PasteThis, w->N1,       w->ClearThis};
        QCOMPARE(actions, expected);
        const QStringList captions = {"Load text...", "Save text...", "", "Copy all", "Copy",
                                      "Copy as text", "Paste",        "", "Clear"};
        const QStringList names = {"LoadThis", "SaveThis", "N2", "CopyALL",  "CopyThis",
                                   "CopyText", "PasteThis", "N1", "ClearThis"};
        for (int i = 0; i < actions.size(); ++i) {
            QCOMPARE(actions[i]->objectName(), names[i]);
            QCOMPARE(actions[i]->text(), captions[i]);
            QCOMPARE(actions[i]->isSeparator(), captions[i].isEmpty());
            QVERIFY(actions[i]->isEnabled());
            if (!actions[i]->isSeparator()) {
                QCOMPARE(actions[i]->icon().availableSizes().value(0), QSize(16, 16));
            }
        }
        QCOMPARE(w->PopupMenu1->objectName(), QStringLiteral("PopupMenu1"));
        QCOMPARE(w->OpenDialog1.filter, QStringLiteral("Text|*.txt"));
        QCOMPARE(w->SaveDialog1.filter, QStringLiteral("Text|*.txt"));
        QCOMPARE(QtNameFilters(w->SaveDialog1.filter), QStringLiteral("Text (*.txt)"));
        QCOMPARE(QtNameFilters("Text|*.txt|Logs|*.log;*.txt"),
                 QStringLiteral("Text (*.txt);;Logs (*.log *.txt)"));
    }

    // Opened over each of the five lists, Clear acts on that list alone.
    void actsOnTheListItWasOpenedOver_data() {
        QTest::addColumn<QString>("name");
        for (const char* name : {"TX1", "RX1", "RX2", "RX3", "RX4"}) QTest::newRow(name) << name;
    }
    void actsOnTheListItWasOpenedOver() {
        QFETCH(QString, name);
        TLineList* const lists[] = {w->TX1, w->RX1, w->RX2, w->RX3, w->RX4};
        for (TLineList* list : lists) SetLines(list, {"x", "y"});
        auto* target = w->findChild<TLineList*>(name);
        QVERIFY(target != nullptr);
        QVERIFY(Run(target, w->ClearThis));
        for (TLineList* list : lists) {
            QCOMPARE(Lines(list), list == target ? QStringList{""} : QStringList({"x", "y"}));
        }
    }

    // The menu key (which the window system turns into a keyboard request for
    // a context menu) or Shift+F10 over the focused list opens the menu;
    // arrows and Enter choose.
    void keyboard_data() {
        QTest::addColumn<bool>("menuKey");
        QTest::newRow("menu key") << true;
        QTest::newRow("Shift+F10") << false;
    }
    void keyboard() {
        QFETCH(bool, menuKey);
        const auto askForMenu = [&] {
            if (menuKey) {
                QContextMenuEvent request(QContextMenuEvent::Keyboard, QPoint(1, 1),
                                          w->mapToGlobal(QPoint(1, 1)));
                QCoreApplication::sendEvent(w->windowHandle(), &request);
            } else {
                QTest::keyClick(w->windowHandle(), Qt::Key_F10, Qt::ShiftModifier);
            }
        };
        SetLines(w->RX3, {"a", "b", "c"});
        ShowPageOf(w->RX3);
        w->activateWindow();
        w->RX3->setFocus();
        QTRY_VERIFY(w->RX3->hasFocus());
        askForMenu();
        QTRY_VERIFY(w->PopupMenu1->isVisible());
        QCOMPARE(w->PopupMenu1->PopupComponent(), w->RX3);
        // Down seven times skips the separators: Load, Save, Copy all, Copy,
        // Copy as text, Paste, Clear.
        for (int i = 0; i < 7; ++i) QTest::keyClick(w->PopupMenu1, Qt::Key_Down);
        QCOMPARE(w->PopupMenu1->activeAction(), w->ClearThis);
        QTest::keyClick(w->PopupMenu1, Qt::Key_Return);
        QTRY_VERIFY(!w->PopupMenu1->isVisible());
        QCOMPARE(Lines(w->RX3), QStringList{""});

        // Esc closes the menu without a command.
        SetLines(w->RX3, {"a"});
        w->RX3->setFocus();
        QTRY_VERIFY(w->RX3->hasFocus());
        askForMenu();
        QTRY_VERIFY(w->PopupMenu1->isVisible());
        QTest::keyClick(w->PopupMenu1, Qt::Key_Down);
        QTest::keyClick(w->PopupMenu1, Qt::Key_Escape);
        QTRY_VERIFY(!w->PopupMenu1->isVisible());
        QCOMPARE(Lines(w->RX3), QStringList{"a"});
        QVERIFY(dialog->requests.empty());
    }

    void copyAllPastesReversedAtTheEnd() {
        SetLines(w->RX2, {"a", "b", "c"});
        QVERIFY(Run(w->RX2, w->CopyALL));
        QCOMPARE(Lines(w->tempList), QStringList({"c", "b", "a"}));
        QCOMPARE(w->TX1->count(), 0);
        QVERIFY(Run(w->TX1, w->PasteThis));
        QCOMPARE(Lines(w->TX1), QStringList({"c", "b", "a"}));
        QVERIFY(Run(w->TX1, w->PasteThis));  // the clipboard is kept
        QCOMPARE(Lines(w->TX1), QStringList({"c", "b", "a", "c", "b", "a"}));
        QCOMPARE(Lines(w->tempList), QStringList({"c", "b", "a"}));
        QCOMPARE(Lines(w->RX2), QStringList({"a", "b", "c"}));
    }

    void copySelectedPastesAboveTheCurrentLine() {
        SetLines(w->RX1, {"r1", "r2", "r3", "r4", "r5"});
        for (int row : {1, 3}) {
            QTest::mouseClick(w->RX1->viewport(), Qt::LeftButton, Qt::ControlModifier,
                              w->RX1->visualRowRect(row).center());
        }
        QCOMPARE(w->RX1->selectedRows().size(), 2);
        QVERIFY(
            Run(w->RX1, w->CopyThis, 3));  // a right click on a selected line keeps the selection
        QCOMPARE(Lines(w->tempList), QStringList({"r2", "r4"}));

        SetLines(w->TX1, {"t1", "t2"});
        QVERIFY(Run(w->TX1, w->PasteThis, 0));  // the right click selects the first line
        QCOMPARE(Lines(w->TX1), QStringList({"r2", "r4", "t1", "t2"}));
        QCOMPARE(w->TX1->text(w->TX1->currentRow()), QStringLiteral("t1"));
        QVERIFY(Run(w->TX1, w->PasteThis));  // opened below the lines: the selection stays
        QCOMPARE(Lines(w->TX1), QStringList({"r2", "r4", "r2", "r4", "t1", "t2"}));

        // Pasting into RX1 goes above its focused line.
        w->RX1->setCurrentRow(4, QItemSelectionModel::NoUpdate);
        w->tempList->clear();
        w->tempList->addItems({"p", "q"});
        w->PopupMenu1->Popup(w->RX1, w->RX1->mapToGlobal(QPoint(5, 5)));
        QVERIFY(Choose(w->PasteThis));
        QCOMPARE(Lines(w->RX1), QStringList({"r1", "r2", "r3", "r4", "p", "q", "r5"}));
    }

    // The desktop's clipboard: Ctrl+C and "Copy as text" put every selected
    // line on it, in order, as shown; Ctrl+A selects all of RX1 (only there
    // may several be selected). The internal clipboard keeps its lines.
    void desktopClipboard() {
        SetLines(w->tempList, {"kept"});
        SetLines(w->RX1, {"12:00:01.000 A (1) ok", "b", ">> c (1)", "d"});
        ShowPageOf(w->RX1);
        for (int row : {2, 0}) {
            QTest::mouseClick(w->RX1->viewport(), Qt::LeftButton, Qt::ControlModifier,
                              w->RX1->visualRowRect(row).center());
        }
        QGuiApplication::clipboard()->clear();
        QTest::keyClick(w->RX1, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 QStringLiteral("12:00:01.000 A (1) ok\n>> c (1)"));
        QTest::keyClick(w->RX1, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(w->RX1->selectedRows(), QList<int>({0, 1, 2, 3}));
        QGuiApplication::clipboard()->clear();
        QVERIFY(Run(w->RX1, w->CopyText, 3));
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 QStringLiteral("12:00:01.000 A (1) ok\nb\n>> c (1)\nd"));
        QCOMPARE(Lines(w->tempList), QStringList{"kept"});
        // A list of one selected line: Ctrl+A changes nothing, Ctrl+C copies it.
        SetLines(w->RX2, {"x", "y"});
        ShowPageOf(w->RX2);
        QTest::mouseClick(w->RX2->viewport(), Qt::LeftButton, {}, w->RX2->visualRowRect(1).center());
        QTest::keyClick(w->RX2, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(w->RX2->selectedRows(), QList<int>{1});
        QTest::keyClick(w->RX2, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("y"));
    }

    // A right click follows the desktop lists' convention: on a selected
    // line it keeps the selection (the line becomes current), on another line
    // it selects that line alone, below the last line it keeps everything.
    // Copy and Paste then act on what the user sees.
    void rightClickFollowsTheListConvention() {
        SetLines(w->RX1, {"r1", "r2", "r3", "r4", "r5"});
        for (int row : {1, 3}) {
            QTest::mouseClick(w->RX1->viewport(), Qt::LeftButton, Qt::ControlModifier,
                              w->RX1->visualRowRect(row).center());
        }
        QVERIFY(Run(w->RX1, w->CopyThis, 1));
        QCOMPARE(Lines(w->tempList), QStringList({"r2", "r4"}));
        QCOMPARE(w->RX1->selectedRows().size(), 2);
        QCOMPARE(w->RX1->currentRow(), 1);
        QVERIFY(Run(w->RX1, w->CopyThis, 4));
        QCOMPARE(Lines(w->tempList), QStringList{"r5"});
        QCOMPARE(w->RX1->selectedRows().size(), 1);
        QCOMPARE(w->RX1->currentRow(), 4);
        QVERIFY(Run(w->RX1, w->PasteThis));  // below the last line: r5 stays current
        QCOMPARE(Lines(w->RX1), QStringList({"r1", "r2", "r3", "r4", "r5", "r5"}));

        // The clicked line, not the one selected before, takes the paste.
        SetLines(w->TX1, {"t1", "t2", "t3"});
        QTest::mouseClick(w->TX1->viewport(), Qt::LeftButton, {},
                          w->TX1->visualRowRect(2).center());
        QVERIFY(Run(w->TX1, w->PasteThis, 0));
        QCOMPARE(Lines(w->TX1), QStringList({"r5", "t1", "t2", "t3"}));

        SetLines(w->RX2, {"a", "b", "c"});
        QVERIFY(Run(w->RX2, w->CopyThis, 1));
        QCOMPARE(Lines(w->tempList), QStringList{"b"});
    }

    void copyOfASingleSelectionList() {
        SetLines(w->RX4, {"a", "b"});
        QVERIFY(Run(w->RX4, w->CopyThis, 1));
        QCOMPARE(Lines(w->tempList), QStringList{"b"});
        w->RX4->clearSelection();
        w->PopupMenu1->Popup(w->RX4, w->RX4->mapToGlobal(QPoint(5, 5)));
        QVERIFY(Choose(w->CopyThis));
        QCOMPARE(w->tempList->count(), 0);  // nothing selected: the clipboard is emptied
    }

    // Each row: the file's bytes and the lines loading gives.
    void load_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("CR LF") << QByteArray("one\r\ntwo\r\n") << QStringList{"one", "two"};
        QTest::newRow("lone LF") << QByteArray("one\ntwo\n") << QStringList{"one", "two"};
        QTest::newRow("lone CR") << QByteArray("one\rtwo") << QStringList{"one", "two"};
        QTest::newRow("last line open") << QByteArray("one\r\ntwo") << QStringList{"one", "two"};
        QTest::newRow("empty lines") << QByteArray("\r\n\n\r") << QStringList{"", "", ""};
        QTest::newRow("cleared log") << QByteArray("\r\n") << QStringList{""};
        QTest::newRow("empty file") << QByteArray() << QStringList{};
        QTest::newRow("NUL ends it")
            << QByteArray("one\r\ntw\0o\r\nthree", 16) << QStringList{"one", "tw"};
        QTest::newRow("8-bit") << QByteArray("\xE9t\xE9\xFF\x01\r\n")
                               << QStringList{QString::fromUtf8("\u00E9t\u00E9\u00FF\u0001")};
    }
    void load() {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, lines);
        QVERIFY(WriteFile(Path("in.txt"), content));
        SetLines(w->RX4, {"old"});
        dialog->answer = Path("in.txt");
        QVERIFY(Run(w->RX4, w->LoadThis));
        QCOMPARE(Lines(w->RX4), lines);
        QCOMPARE(w->LastPath, Path("in.txt"));
        QCOMPARE(dialog->requests.size(), 1u);
        QCOMPARE(dialog->requests[0].kind, FileDialogKind::Open);
        QVERIFY(boxes->boxes.empty());
    }

    void saveWritesCrLfAfterEveryLine() {
        SetLines(w->TX1, {"0x01 \"A\"", "", QString::fromUtf8("\u00E9\u00FF")});
        dialog->answer = Path("history.txt");
        QVERIFY(Run(w->TX1, w->SaveThis));
        QCOMPARE(ReadFile(Path("history.txt")), QByteArray("0x01 \"A\"\r\n\r\n\xE9\xFF\r\n"));
        QCOMPARE(w->LastPath, Path("history.txt"));

        // Saving over an existing file replaces its content.
        SetLines(w->TX1, {"x"});
        QVERIFY(Run(w->TX1, w->SaveThis));
        QCOMPARE(ReadFile(Path("history.txt")), QByteArray("x\r\n"));
        QVERIFY(boxes->boxes.empty());
    }

    void clearedLogSavesTwoBytesAndLoadsBack() {
        SetLines(w->RX1, {"a", "b"});
        QVERIFY(Run(w->RX1, w->ClearThis));
        QCOMPARE(Lines(w->RX1), QStringList{""});
        dialog->answer = Path("cleared.txt");
        QVERIFY(Run(w->RX1, w->SaveThis));
        QCOMPARE(ReadFile(Path("cleared.txt")), QByteArray("\r\n"));
        SetLines(w->RX2, {"a", "b"});
        QVERIFY(Run(w->RX2, w->LoadThis));
        QCOMPARE(Lines(w->RX2), QStringList{""});
    }

    void saveProposesTheListNameWithTheTime() {
        const QString exeDir = w->LastPath;
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        QVERIFY(Run(w->RX2, w->SaveThis));  // cancelled
        const QDateTime after = QDateTime::currentDateTime().addSecs(1);
        QCOMPARE(dialog->requests.size(), 1u);
        const FileDialogRequest& request = dialog->requests[0];
        QCOMPARE(request.kind, FileDialogKind::Save);
        QCOMPARE(request.filter, QStringLiteral("Text|*.txt"));
        QCOMPARE(request.initialDir, exeDir);
        QStringList candidates;  // the names of every second the save may have seen
        for (QDateTime t = before; t <= after; t = t.addSecs(1)) {
            candidates << "RX2_" + t.toString("ddMMyy_HHmmss") + ".txt";
        }
        QVERIFY2(candidates.contains(request.fileName), qPrintable(request.fileName));

        // The history is proposed under its own name; after a save the dialogs
        // open in the directory of the file saved.
        QDir(dir->path()).mkdir("sub");
        dialog->answer = dir->path() + "/sub/h.txt";
        QVERIFY(Run(w->TX1, w->SaveThis));
        QVERIFY(dialog->requests[1].fileName.startsWith("TX1_"));
        dialog->answer.reset();
        QVERIFY(Run(w->TX1, w->LoadThis));
        QCOMPARE(dialog->requests[2].kind, FileDialogKind::Open);
        QCOMPARE(dialog->requests[2].initialDir, dir->path() + "/sub/");
        QCOMPARE(dialog->requests[2].filter, QStringLiteral("Text|*.txt"));
    }

    void cancelledDialogChangesNothing() {
        SetLines(w->RX3, {"a"});
        w->tempList->addItem("kept");
        const QString lastPath = w->LastPath;
        QVERIFY(Run(w->RX3, w->LoadThis));
        QVERIFY(Run(w->RX3, w->SaveThis));
        QCOMPARE(dialog->requests.size(), 2u);
        QCOMPARE(Lines(w->RX3), QStringList{"a"});
        QCOMPARE(Lines(w->tempList), QStringList{"kept"});
        QCOMPARE(w->LastPath, lastPath);
        QCOMPARE(QDir(dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{});
        QVERIFY(boxes->boxes.empty());
    }

    void missingFileShowsOpenError() {
        SetLines(w->RX1, {"kept"});
        dialog->answer = Path("missing.txt");
        QVERIFY(Run(w->RX1, w->LoadThis));
        QCOMPARE(boxes->boxes.size(), 1u);
        QCOMPARE(boxes->boxes[0].text, "Cannot open file \"" + Path("missing.txt").toStdString() +
                                           "\". No such file or directory.");
        QCOMPARE(boxes->boxes[0].caption, std::string("Tarvik 2"));
        QCOMPARE(boxes->boxes[0].icon, MessageIcon::Error);
        QCOMPARE(Lines(w->RX1), QStringList{"kept"});
        QCOMPARE(w->LastPath, Path("missing.txt"));
    }

    // The dialog the program installs: where it opens, what it proposes and
    // filters, and what it answers. The test plays the user once the dialog is up.
    void qtFileDialog_data() {
        QTest::addColumn<bool>("save");
        QTest::addColumn<QString>("typed");  // empty: cancel
        QTest::addColumn<bool>("answered");
        QTest::newRow("open a file that does not exist") << false << "new" << true;
        QTest::newRow("save over an existing file") << true << "old.txt" << true;
        QTest::newRow("save without extension") << true << "plain" << true;
        QTest::newRow("cancel") << true << "" << false;
    }
    void qtFileDialog() {
        QFETCH(bool, save);
        QFETCH(QString, typed);
        QFETCH(bool, answered);
        QVERIFY(WriteFile(Path("old.txt"), "x"));
        const FileDialogFunction answerer = SetFileDialogFunction(nullptr);
        InstallQtFileDialog();
        QString seenDirectory, seenFilter, seenName;
        QFileDialog::AcceptMode seenMode{};
        bool played = false;
        std::function<void()> play = [&] {
            auto* shown = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (shown == nullptr) {
                QTimer::singleShot(10, play);  // not up yet
                return;
            }
            seenDirectory = shown->directory().absolutePath();
            seenFilter = shown->nameFilters().join(";;");
            seenMode = shown->acceptMode();
            const auto* nameField = shown->findChild<QLineEdit*>("fileNameEdit");
            seenName = nameField ? nameField->text() : "<no name field>";
            if (typed.isEmpty()) {
                shown->reject();
            } else {
                shown->selectFile(typed);
                QMetaObject::invokeMethod(shown, "accept");
            }
            played = true;
        };
        QTimer::singleShot(0, play);
        FileDialogRequest request;
        request.kind = save ? FileDialogKind::Save : FileDialogKind::Open;
        request.initialDir = dir->path() + "/";
        request.fileName = "RX1_010203_040506.txt";
        request.filter = "Text|*.txt";
        const FileDialogAnswer answer = ShowFileDialog(request);
        SetFileDialogFunction(answerer);
        QVERIFY(played);
        QCOMPARE(seenDirectory, QDir(dir->path()).absolutePath());
        QCOMPARE(seenFilter, QStringLiteral("Text (*.txt)"));
        QCOMPARE(seenMode, save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        QCOMPARE(seenName, QStringLiteral("RX1_010203_040506.txt"));
        QCOMPARE(answer.has_value(), answered);
        if (answered)
            QCOMPARE(*answer, QFileInfo(dir->filePath(typed)).absoluteFilePath());
        QCOMPARE(ReadFile(Path("old.txt")), QByteArray("x"));
    }

    // /proc takes no new files, not even from root.
    void unwritableDirectoryShowsCreateError() {
        SetLines(w->RX1, {"a"});
        dialog->answer = QStringLiteral("/proc/RX1.txt");
        QVERIFY(Run(w->RX1, w->SaveThis));
        QCOMPARE(boxes->boxes.size(), 1u);
        const std::string text = boxes->boxes[0].text;
        QVERIFY2(text.starts_with("Cannot create file \"/proc/RX1.txt\". ") && text.size() > 40 &&
                     text.ends_with("."),
                 text.c_str());
        QCOMPARE(boxes->boxes[0].caption, std::string("Tarvik 2"));
        QCOMPARE(boxes->boxes[0].icon, MessageIcon::Error);
        QCOMPARE(w->LastPath, QStringLiteral("/proc/RX1.txt"));
        QVERIFY(!QFile::exists("/proc/RX1.txt"));
        QCOMPARE(Lines(w->RX1), QStringList{"a"});
    }
};

}  // namespace tarvik

TARVIK_APP_TEST_MAIN(tarvik::MenuTest)
#include "menu_test.moc"
