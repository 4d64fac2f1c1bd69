// File transfers from the window as a user makes them: the dialog opened from
// the line page and from the command line's menu, XMODEM against lrzsz's rx
// and sx on socat's pty pairs with the progress moving, Cancel in the middle
// and a normal Send after it, Send held off while a transfer runs, the
// failures in the error box, and --send-file once the port has opened.

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QElapsedTimer>
#include <QWindow>
#include <functional>
#include <memory>

#include "app/command_line.h"
#include "app/file_dialog.h"
#include "app/frmmain.h"
#include "app/line_list.h"
#include "app/transfer_dialog.h"
#include "app_test.h"
#include "serial/port/com_port.h"
#include "tests/transfer/peers.h"

namespace tarvik {

using transfer::test::Peer;
using transfer::test::PtyPair;
using transfer::test::TempDir;

class TransferWindowTest : public QObject {
    Q_OBJECT

  private:
    static inline QtMessageHandler previousHandler = nullptr;
    std::unique_ptr<test::BoxRecorder> boxes;
    std::unique_ptr<TempDir> dir;
    std::unique_ptr<PtyPair> pair;  // the window opens A; the far end is B
    std::unique_ptr<Tfrmmain> w;
    int far = -1;  // B, when the test itself is the far end
    std::vector<FileDialogRequest> dialogsAsked;

    TTransferDialog* Dialog() const { return w->TransferDialog1; }

    static void Click(QWidget* widget, Qt::MouseButton button = Qt::LeftButton,
                      QPoint at = QPoint()) {
        QWindow* window = widget->window()->windowHandle();
        const QPoint pos =
            window->mapFromGlobal(widget->mapToGlobal(at.isNull() ? widget->rect().center() : at));
        QTest::mouseClick(window, button, {}, pos);
    }

    void Build() {
        w = std::make_unique<Tfrmmain>(nullptr, pair->A());
        w->show();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
    }
    void StartPort() {
        Click(w->BitBtn2);
        QVERIFY(w->C1->Connected());
    }
    void OpenFromLinePage(bool receive) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_L, Qt::AltModifier);
        QCOMPARE(w->PageControl1->currentWidget(), w->TabSheet9);
        Click(receive ? w->BitBtn15 : w->BitBtn14);
        QVERIFY(QTest::qWaitFor([&] { return Dialog() != nullptr && Dialog()->isVisible(); }));
    }
    // The file typed, the mode chosen by its first letters, Start clicked.
    void Fill(const std::string& path, const char* mode) {
        Dialog()->FileEdit->clear();
        QTest::keyClicks(Dialog()->FileEdit, QString::fromStdString(path));
        Dialog()->ModeBox->setFocus();
        QTest::keyClick(Dialog()->ModeBox, Qt::Key_Home);
        QTest::keyClicks(Dialog()->ModeBox, QString::fromLatin1(mode));
        QCOMPARE(Dialog()->ModeBox->currentText(), QString::fromLatin1(mode));
    }
    // A box's text replaced as a person does it: select all, type.
    static void Type(QWidget* box, const char* value) {
        box->setFocus();
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(box, QString::fromLatin1(value));
    }
    // 64 KiB of raw binary, 64 bytes each 20 ms: a transfer that runs a while.
    void StartSlowRaw() {
        transfer::test::WriteFile(dir->File("slow.bin"), std::string(64 * 1024, 'x'));
        StartPort();
        OpenFar();
        OpenFromLinePage(false);
        Fill(dir->File("slow.bin"), "raw");
        Type(Dialog()->BlockSize, "64");
        Type(Dialog()->BlockDelay, "20");
        QCOMPARE(Dialog()->BlockSize->value(), 64);
        QCOMPARE(Dialog()->BlockDelay->value(), 20);
        Click(Dialog()->StartButton);
        QVERIFY(w->TransferRunning());
        QVERIFY(!ReadFar(128).empty());
    }
    // Like QTest::qWaitFor, but the event loop sleeps only while nothing
    // comes: qWaitFor's pauses of 10 ms would hold every hand-over of the
    // transfer's thread (two a block) for up to that long.
    static bool Serve(const std::function<bool()>& done, int limitMs = 10000) {
        QTimer tick;
        tick.start(20);
        QElapsedTimer clock;
        clock.start();
        while (!done()) {
            if (clock.elapsed() > limitMs)
                return false;
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        return true;
    }
    // Waits for the transfer's end; the distinct progress texts seen meanwhile.
    QSet<QString> RunToEnd(int limitMs = 60000) {
        QSet<QString> seen;
        Serve(
            [&] {
                seen.insert(Dialog()->StatusLabel->text());
                return !w->TransferRunning();
            },
            limitMs);
        return seen;
    }
    void OpenFar() {
        far = open(pair->B().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(far >= 0);
    }
    std::string ReadFar(std::size_t count, int limitMs = 5000) {
        std::string got;
        (void)QTest::qWaitFor(
            [&] {
                char buffer[4096];
                const ssize_t n = read(far, buffer, sizeof buffer);
                if (n > 0)
                    got.append(buffer, std::size_t(n));
                return got.size() >= count;
            },
            limitMs);
        return got;
    }
    QStringList BoxTexts() const {
        QStringList texts;
        for (const auto& box : boxes->boxes) texts << QString::fromStdString(box.text);
        return texts;
    }

  private slots:
    void initTestCase() {
        previousHandler = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext& context, const QString& message) {
                if (!message.startsWith(QStringLiteral("This plugin does not support")))
                    previousHandler(type, context, message);
            });
    }
    void cleanupTestCase() { qInstallMessageHandler(previousHandler); }
    void init() {
        boxes = std::make_unique<test::BoxRecorder>();
        dir = std::make_unique<TempDir>();
        pair = std::make_unique<PtyPair>(dir->Path());
        dialogsAsked.clear();
        SetFileDialogFunction([this](const FileDialogRequest& request) -> FileDialogAnswer {
            dialogsAsked.push_back(request);
            return QString::fromStdString(dir->File("chosen"));
        });
        Build();
    }
    void cleanup() {
        w.reset();
        if (far >= 0)
            close(far);
        far = -1;
        pair.reset();
        dir.reset();
        boxes.reset();
        SetFileDialogFunction(nullptr);
    }

    // From the line page and from the command line's menu (right click),
    // each with its direction's modes; Browse asks the file dialog; Esc
    // closes the dialog; the menu's own items stay where they were.
    void dialogOpensFromLinePageAndMenu() {
        OpenFromLinePage(false);
        QCOMPARE(Dialog()->windowTitle(), QStringLiteral("Send file"));
        QCOMPARE(Dialog()->ModeBox->count(), 5);
        Click(Dialog()->BrowseButton);
        QCOMPARE(Dialog()->FileEdit->text(), QString::fromStdString(dir->File("chosen")));
        QCOMPARE(dialogsAsked.back().kind, FileDialogKind::Open);
        QTest::keyClick(Dialog(), Qt::Key_Escape);
        QTRY_VERIFY(!Dialog()->isVisible());

        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        w->ComboBox1->lineEdit()->setFocus();
        QVERIFY(QTest::qWaitFor([&] { return w->ComboBox1->lineEdit()->hasFocus(); }));
        Click(w->ComboBox1->lineEdit(), Qt::RightButton);
        QMenu* menu = nullptr;
        QVERIFY(QTest::qWaitFor([&] {
            menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            return menu != nullptr;
        }));
        QStringList last;
        for (QAction* item : menu->actions().mid(menu->actions().size() - 4)) last << item->text();
        QCOMPARE(last, QStringList({"Hex to notation", "", "Send file...", "Receive file..."}));
        auto* receive = menu->findChild<QAction*>(QStringLiteral("ReceiveFile"));
        Click(menu, Qt::LeftButton, menu->actionGeometry(receive).center());
        QVERIFY(QTest::qWaitFor([&] { return Dialog()->isVisible(); }));
        QCOMPARE(Dialog()->windowTitle(), QStringLiteral("Receive file"));
        QCOMPARE(Dialog()->ModeBox->count(), 2);
        Fill(dir->File("in"), "ymodem");
        Click(Dialog()->BrowseButton);
        QCOMPARE(dialogsAsked.back().kind, FileDialogKind::Folder);
    }

    // Each mode from the window to a real far end, and sx's XMODEM into us:
    // the file arrives whole and the bar moves. The far end of paced text
    // keeps each line and answers it with a prompt the next line waits for.
    void transfersArriveWhole_data() {
        QTest::addColumn<bool>("receive");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QStringList>("farEnd");  // run in the folder far/
        QTest::addColumn<QString>("farFile");
        QTest::newRow("xmodem to rx") << false << "xmodem"
                                      << QStringList{"rx", "-b", "-c", "far.bin"} << "far.bin";
        QTest::newRow("xmodem from sx") << true << "xmodem"
                                        << QStringList{"sx", "-b", "-k", "far.bin"} << "far.bin";
        QTest::newRow("ymodem to rb") << false << "ymodem" << QStringList{"rb", "-b"} << "mine.bin";
        QTest::newRow("paced text to a prompt")
            << false << "text"
            << QStringList{"sh", "-c",
                           "while IFS= read -r l; do echo \"$l\" >>far.txt; printf '> '; done"}
            << "far.txt";
    }
    void transfersArriveWhole() {
        QFETCH(bool, receive);
        QFETCH(QString, mode);
        QFETCH(QStringList, farEnd);
        QFETCH(QString, farFile);
        const bool text = mode == QStringLiteral("text");
        std::string content = transfer::test::RandomBytes(256 * 1024, 7);
        if (text) {
            content.clear();
            for (int i = 0; i < 40; ++i) content += "set " + std::to_string(i) + "\n";
        }
        const std::string mine = dir->File("mine.bin");
        const std::string theirs = dir->File("far/" + farFile.toStdString());
        QVERIFY(QDir().mkpath(QString::fromStdString(dir->File("far"))));
        transfer::test::WriteFile(receive ? theirs : mine, content);
        StartPort();
        std::vector<std::string> argv;
        for (const QString& word : farEnd) argv.push_back(word.toStdString());
        Peer peer(argv, pair->B(), dir->File("far"));
        OpenFromLinePage(receive);
        Fill(mine, mode.toLatin1().constData());
        if (text) {
            Type(Dialog()->LineDelay, "20");
            Type(Dialog()->WaitForEdit, "\"> \"");
        }
        Click(Dialog()->StartButton);
        QVERIFY(w->TransferRunning());
        const QSet<QString> seen = RunToEnd();
        QVERIFY2(Dialog()->StatusLabel->text().startsWith(QStringLiteral("Done")),
                 qPrintable(Dialog()->StatusLabel->text()));
        QVERIFY2(seen.size() >= 3, "figures between the start and the end");
        QCOMPARE(Dialog()->Bar->value(), Dialog()->Bar->maximum());
        if (!text)  // the prompting far end never ends by itself
            QCOMPARE(peer.Wait(), 0);
        const std::string arrived = transfer::test::ReadFile(receive ? mine : theirs);
        QVERIFY(arrived.size() >= content.size());
        QVERIFY(arrived.substr(0, content.size()) == content);  // XMODEM pads the last block
        if (mode != QStringLiteral("xmodem"))
            QCOMPARE(arrived.size(), content.size());
        QVERIFY(BoxTexts().isEmpty());
    }

    // While a slow raw send runs: Send and the timer box are held off and
    // say why, Enter in the command line says it too, what arrives still
    // reaches the log. Cancel ends it with the port open; a Send works then.
    void cancelMidTransferThenSend() {
        StartSlowRaw();
        QVERIFY(!w->BitBtn1->isEnabled());
        QCOMPARE(w->BitBtn1->toolTip(), QStringLiteral("A file transfer is running"));
        QVERIFY(!w->CheckBox1->isEnabled());
        QCOMPARE(w->CheckBox1->toolTip(), QStringLiteral("A file transfer is running"));
        QVERIFY(QTest::qWaitFor([&] { return Dialog()->Bar->value() > 0; }));
        QCOMPARE(Dialog()->CancelButton->text(), QStringLiteral("Cancel"));

        QVERIFY(write(far, "hello", 5) == 5);
        QVERIFY(Serve([&] { return w->RX1->text(0) == QStringLiteral("h  e  l  l  o (5)"); }));
        w->ComboBox1->setEditText(QStringLiteral("\"AT\""));
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        w->ComboBox1->lineEdit()->setFocus();
        QTest::keyClick(w->windowHandle(), Qt::Key_Return);
        QCOMPARE(BoxTexts(), QStringList{"A file transfer is running"});

        Click(Dialog()->CancelButton);
        QVERIFY(QTest::qWaitFor([&] { return !w->TransferRunning(); }));
        QCOMPARE(Dialog()->StatusLabel->text(), QStringLiteral("Cancelled"));
        QCOMPARE(BoxTexts().size(), 1);  // a cancel is no error
        QVERIFY(Dialog()->isVisible());
        QVERIFY(w->C1->Connected());
        QVERIFY(w->BitBtn1->isEnabled());
        QVERIFY(w->BitBtn1->toolTip().isEmpty());
        ReadFar(1 << 20, 300);  // what the cancel left on the line
        Click(w->BitBtn1);
        QCOMPARE(ReadFar(2), std::string("AT"));
    }

    // The line lost mid-transfer (socat gone, both ends hung up): the
    // transfer ends at once saying so, Send and the timer are free again,
    // the dialog can start another, and Stop closes the port.
    void lineLostMidTransfer() {
        StartSlowRaw();
        pair->Cut();
        QVERIFY(Serve([&] { return !w->TransferRunning(); }));
        QCOMPARE(Dialog()->StatusLabel->text(), QStringLiteral("Failed: The line was lost"));
        QCOMPARE(BoxTexts(), QStringList{"The file transfer failed: The line was lost."});
        QVERIFY(w->BitBtn1->toolTip().isEmpty());
        QVERIFY(w->CheckBox1->isEnabled());
        QVERIFY(Dialog()->StartButton->isEnabled());
        QCOMPARE(Dialog()->CancelButton->text(), QStringLiteral("Close"));
        Click(w->BitBtn3);
        QVERIFY(!w->C1->Connected());
    }

    // Each failure is one error box saying why; a receive leaves no file
    // under its name; the port stays open.
    void failuresInTheErrorBox_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("receive");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("said");
        QTest::newRow("unreadable file") << "xmodem" << false << "missing.bin" << "missing.bin";
        QTest::newRow("refused by the receiver")
            << "xmodem" << false << "ok.bin" << "The far end cancelled the transfer";
        QTest::newRow("sender cancels a receive")
            << "xmodem" << true << "got.bin" << "The far end cancelled the transfer";
    }
    void failuresInTheErrorBox() {
        QFETCH(QString, mode);
        QFETCH(bool, receive);
        QFETCH(QString, file);
        QFETCH(QString, said);
        transfer::test::WriteFile(dir->File("ok.bin"), std::string(1000, 'y'));
        StartPort();
        OpenFar();
        OpenFromLinePage(receive);
        Fill(dir->File(file.toStdString()), mode.toLatin1().constData());
        Click(Dialog()->StartButton);
        if (receive)
            QVERIFY(!ReadFar(1).empty());  // our receiver's first C
        if (!file.startsWith(QStringLiteral("missing")))
            QVERIFY(write(far, "\x18\x18\x18\x18\x18", 5) == 5);
        QVERIFY(QTest::qWaitFor([&] { return !w->TransferRunning(); }, 20000));
        QCOMPARE(boxes->boxes.size(), std::size_t(1));
        QVERIFY2(BoxTexts().front().startsWith(QStringLiteral("The file transfer failed: ")) &&
                     BoxTexts().front().contains(said),
                 qPrintable(BoxTexts().front()));
        QVERIFY(Dialog()->StatusLabel->text().startsWith(QStringLiteral("Failed: ")));
        QVERIFY(w->C1->Connected());
        if (receive)
            QCOMPARE(transfer::test::ListFolder(dir->Path()),
                     (std::vector<std::string>{"ok.bin", "pair-a", "pair-b"}));
    }

    // --send-file with --send-mode waits for Start, then goes in the dialog.
    void sendFileAtStart() {
        const std::string content = transfer::test::RandomBytes(3000, 9);
        transfer::test::WriteFile(dir->File("start.bin"), content);
        const auto job = TransferArgument(
            {"tarvik2", "--send-file", QString::fromStdString(dir->File("start.bin")),
             "--send-mode", "xmodem1k", QString::fromStdString(pair->A())});
        QVERIFY(job.has_value());
        w->TransferAtStart(*job);
        Peer peer({"rx", "-b", "-c", "far.bin"}, pair->B(), dir->Path());
        QVERIFY(!w->TransferRunning());
        StartPort();
        QVERIFY(w->TransferRunning());
        QVERIFY(Dialog()->isVisible());
        QCOMPARE(Dialog()->ModeBox->currentText(), QStringLiteral("xmodem1k"));
        RunToEnd();
        QVERIFY2(Dialog()->StatusLabel->text().startsWith(QStringLiteral("Done")),
                 qPrintable(Dialog()->StatusLabel->text()));
        QCOMPARE(peer.Wait(), 0);
        QVERIFY(transfer::test::ReadFile(dir->File("far.bin")).substr(0, content.size()) == content);
        for (const auto& [arguments, message] :
             {std::pair{QStringList{"t", "--send-mode", "raw"}, "--send-mode needs --send-file"},
              std::pair{QStringList{"t", "--send-file", "f", "--send-mode", "zmodem"},
                        "--send-mode cannot take 'zmodem'"}}) {
            try {
                TransferArgument(arguments);
                QFAIL("refused");
            } catch (const ECommandLine& error) {
                QCOMPARE(QString::fromUtf8(error.what()), QString::fromLatin1(message));
            }
        }
    }
};

}  // namespace tarvik

TARVIK_APP_TEST_MAIN(tarvik::TransferWindowTest)
#include "transfer_window_test.moc"
