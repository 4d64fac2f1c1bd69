// The main window on the offscreen platform: its state after start, its
// layout, Clear all, the choice of the active receive log, the About page's
// picture, the Esc key, and the calculator and editor buttons.

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTimer>
#include <memory>

#include "app/executable_dir.h"
#include "app/frmmain.h"
#include "app/help_text.h"
#include "app/image_control.h"
#include "app_test.h"

namespace tarvik {

class WindowTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<Tfrmmain> w;

    void ClickPage(int index) {
        QTabBar* bar = w->PageControl1->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
    }

    static QStringList Lines(const TLineList* list) {
        QStringList lines;
        for (int i = 0; i < list->count(); ++i) lines << list->text(i);
        return lines;
    }

  private slots:
    void init() {
        w = std::make_unique<Tfrmmain>();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    }
    void cleanup() { w.reset(); }

    void initialState() {
        QCOMPARE(w->windowTitle(), QStringLiteral("Tarvik 2"));
        for (const TLineList* log : {w->RX1, w->RX2, w->RX3, w->RX4}) {
            QCOMPARE(Lines(log), QStringList{QString()});
        }
        QCOMPARE(w->TX1->count(), 0);
        QCOMPARE(w->ComboBox1->currentText(), QString());
        QCOMPARE(w->ComboBox1->count(), 0);
        QVERIFY(w->ComboBox1->isEditable());
        QVERIFY(w->BitBtn2->isEnabled());
        QVERIFY(!w->BitBtn3->isEnabled());
        QVERIFY(!w->BitBtn1->isEnabled());
        for (const QPushButton* b : {w->BitBtn4, w->BitBtn5, w->BitBtn6, w->BitBtn7, w->BitBtn8}) {
            QVERIFY(b->isEnabled());
        }
        QCOMPARE(w->PageControl1->currentWidget(), w->TabSheet1);
        QCOMPARE(w->ActiveLog, w->RX1);
        QVERIFY(w->CheckBox2->isChecked());
        QVERIFY(!w->CheckBox1->isChecked());
        QCOMPARE(w->Edit1->text(), QStringLiteral("300"));
        QVERIFY(w->RadioButton1->isChecked());
        QVERIFY(!w->RadioButton2->isChecked());
        QVERIFY(!w->T1->isActive());
        QCOMPARE(w->T1->interval(), 100);

        QCOMPARE(w->RX1->selectionMode(), QAbstractItemView::ExtendedSelection);
        for (const TLineList* list : {w->RX2, w->RX3, w->RX4, w->TX1}) {
            QCOMPARE(list->selectionMode(), QAbstractItemView::SingleSelection);
        }

        QVERIFY(w->tempList != nullptr);
        QCOMPARE(w->tempList->objectName(), QStringLiteral("tempList"));
        QCOMPARE(w->tempList->parent(), w.get());
        QVERIFY(w->tempList->isHidden());
        QCOMPARE(w->tempList->count(), 0);
        QCOMPARE(w->LastPath, QString::fromStdString(ExecutableDir()) + QLatin1Char('/'));
        QVERIFY(w->LastPath.endsWith(QLatin1Char('/')));
        QVERIFY(QDir(w->LastPath).exists(QStringLiteral("app_window_test")));

        QVERIFY(w->Label20->isHidden());
        QVERIFY(!w->Image5->isHidden());
        QCOMPARE(w->Image5->Tag, 0);
    }

    void captionsAndPages() {
        const std::pair<QAbstractButton*, const char*> captions[] = {
            {w->CheckBox1, "&Timer(ms):"}, {w->CheckBox2, "ASC&II"}, {w->BitBtn2, "&Start"},
            {w->BitBtn3, "Sto&p"},         {w->BitBtn1, "S&end"},    {w->BitBtn4, "SU&M"},
            {w->BitBtn5, "&BCC"},          {w->BitBtn6, "&Cal"},     {w->BitBtn7, "&Notepad"},
            {w->BitBtn8, "Clear &all"},    {w->RadioButton1, "->"},  {w->RadioButton2, "->"}};
        for (const auto& [button, caption] : captions) {
            QCOMPARE(button->text(), QString::fromLatin1(caption));
        }
        // The line page comes after the eight pages, in their order.
        const char* pages[] = {"Rx &1",        "Rx &2", "Rx &3", "Rx &4", "ASCII",
                               "ASCII Extend", "Help",  "About", "&Line"};
        QCOMPARE(w->PageControl1->count(), 10);
        for (int i = 0; i < 9; ++i) {
            QCOMPARE(w->PageControl1->tabText(i), QString::fromLatin1(pages[i]));
        }
        QCOMPARE(w->Label1->text(), QStringLiteral("Tarvik 2"));
        QVERIFY(!w->Label2->text().isEmpty());
        QVERIFY(!w->Label3->text().isEmpty());
    }

    void helpText() {
        QVERIFY(w->Memo1->isReadOnly());
        const QTextDocument* doc = w->Memo1->document();
        QCOMPARE(doc->blockCount(), static_cast<int>(kHelpLines.size()));
        for (int i = 0; i < doc->blockCount(); ++i) {
            QCOMPARE(doc->findBlockByNumber(i).text(), QString::fromLatin1(kHelpLines[i]));
        }
        QCOMPARE(doc->findBlockByNumber(3).text(),
                 QStringLiteral("ASCII:  \"A\" or \"A3\" = 0x41 0x33"));
        QVERIFY(doc->findBlockByNumber(4).text().isEmpty());
        QVERIFY(doc->findBlockByNumber(10).text().isEmpty());
    }

    void layout_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("rect");
        const std::pair<const char*, QRect> places[] = {
            {"Image3", {290, 5, 16, 16}},         {"CheckBox1", {310, 5, 71, 17}},
            {"Edit1", {385, 5, 91, 21}},          {"CheckBox2", {495, 5, 61, 17}},
            {"BitBtn2", {20, 35, 75, 35}},        {"BitBtn3", {100, 35, 75, 35}},
            {"BitBtn1", {180, 35, 75, 35}},       {"BitBtn4", {260, 35, 75, 35}},
            {"BitBtn5", {340, 35, 75, 35}},       {"BitBtn6", {420, 35, 81, 35}},
            {"BitBtn7", {505, 35, 81, 35}},       {"BitBtn8", {590, 35, 81, 35}},
            {"RadioButton1", {10, 75, 31, 17}},   {"ComboBox1", {45, 75, 631, 21}},
            {"RadioButton2", {10, 140, 31, 17}},  {"TX1", {45, 100, 630, 97}},
            {"PageControl1", {5, 200, 670, 332}}, {"Image5", {35, 25, 48, 48}},
            {"Label20", {30, 30, 16, 16}},        {"Image1", {8, -1, 715, 475}},
            {"Image2", {5, 5, 573, 322}}};
        for (const auto& [name, rect] : places) QTest::newRow(name) << QString(name) << rect;
    }
    void layout() {
        QFETCH(QString, name);
        QFETCH(QRect, rect);
        QCOMPARE(w->size(), QSize(683, 540));
        const auto* widget = w->findChild<QWidget*>(name);
        QVERIFY(widget != nullptr);
        QCOMPARE(widget->geometry(), rect);
    }

    // The timer box keeps its width; its caption is fitted to it, whatever
    // font the window gets.
    void timerCaptionShowsWhole() {
        QStringList families{QString()};  // the window's own font first
        families << QFontDatabase::families();
        for (const QString& family : families) {
            if (!family.isEmpty()) {
                QFont font(family);
                font.setPixelSize(11);
                w->setFont(font);
            }
            const QCheckBox* box = w->CheckBox1;
            QCOMPARE(box->geometry(), QRect(310, 5, 71, 17));
            QStyleOptionButton option;
            option.initFrom(box);
            option.text = box->text();
            const QRect room =
                box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
            const QSize caption = box->fontMetrics().size(Qt::TextShowMnemonic, box->text());
            QVERIFY2(caption.width() <= room.width() && caption.height() <= room.height(),
                     qPrintable(QFontInfo(box->font()).family()));
        }
    }

    void anchorsFollowTheWindow() {
        w->resize(883, 640);
        QCOMPARE(w->ComboBox1->geometry(), QRect(45, 75, 831, 21));
        QCOMPARE(w->TX1->geometry(), QRect(45, 100, 830, 97));
        QCOMPARE(w->PageControl1->geometry(), QRect(5, 200, 870, 432));
        QCOMPARE(w->BitBtn8->geometry(), QRect(590, 35, 81, 35));  // not anchored right
        w->resize(683, 540);
        QCOMPARE(w->PageControl1->geometry(), QRect(5, 200, 670, 332));
        // The ownership notice stays along the bottom edge of the About page.
        QCOMPARE(w->Label2->geometry().bottom(), w->Panel1->height() - 1);
        QCOMPARE(w->Label2->width(), w->Panel1->width());
    }

    void tabOrder() {
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        w->CheckBox1->setFocus();
        QStringList order{QApplication::focusWidget()->objectName()};
        for (int i = 0; i < 17; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget* focus = QApplication::focusWidget();
            // The command line's edit field stands for the combo box, the tab bar
            // for the page control.
            if (focus->parentWidget() == w->ComboBox1 || focus->parentWidget() == w->PageControl1) {
                focus = focus->parentWidget();
            }
            order << focus->objectName();
        }
        // Stop and Send are disabled and so are passed over; the page control
        // leads into the log on its page; the two radio buttons form one group
        // whose one stop is the selected button (passing through TX1 selected
        // the history's); then the order starts again with the three port
        // selectors.
        const QStringList expected{"CheckBox1",    "Edit1",        "CheckBox2",    "BitBtn2",
                                   "BitBtn4",      "BitBtn5",      "BitBtn6",      "BitBtn7",
                                   "BitBtn8",      "ComboBox1",    "TX1",          "PageControl1",
                                   "RX1",          "RadioButton2", "ComComboBox1", "ComComboBox3",
                                   "ComComboBox2", "CheckBox1"};
        QCOMPARE(order, expected);
    }

    void clearAll() {
        for (TLineList* log : {w->RX1, w->RX2, w->RX3, w->RX4}) {
            log->addItems({QStringLiteral("0x01 (1)"), QStringLiteral("A (1)")});
        }
        w->TX1->addItems({QStringLiteral("0x01"), QStringLiteral("0x02")});
        w->tempList->addItem(QStringLiteral("kept"));
        w->ComboBox1->setEditText(QStringLiteral("0x41"));
        QTest::mouseClick(w->BitBtn8, Qt::LeftButton);
        for (const TLineList* log : {w->RX1, w->RX2, w->RX3, w->RX4}) {
            QCOMPARE(Lines(log), QStringList{QString()});
        }
        QCOMPARE(Lines(w->TX1), (QStringList{"0x01", "0x02"}));
        QCOMPARE(Lines(w->tempList), QStringList{"kept"});
        QCOMPARE(w->ComboBox1->currentText(), QStringLiteral("0x41"));
    }

    void activeLogFollowsReceivePages_data() {
        QTest::addColumn<QList<int>>("pages");
        QTest::addColumn<QString>("log");
        QTest::newRow("Rx 2") << QList<int>{1} << "RX2";
        QTest::newRow("Rx 3, Help, About") << QList<int>{2, 6, 7} << "RX3";
        QTest::newRow("Rx 4, ASCII, ASCII Extend") << QList<int>{3, 4, 5} << "RX4";
        QTest::newRow("Rx 2, About, Rx 1") << QList<int>{1, 7, 0} << "RX1";
        QTest::newRow("Help only") << QList<int>{6} << "RX1";
    }
    void activeLogFollowsReceivePages() {
        QFETCH(QList<int>, pages);
        QFETCH(QString, log);
        for (int page : pages) {
            ClickPage(page);
            QCOMPARE(w->PageControl1->currentIndex(), page);
        }
        QCOMPARE(w->ActiveLog->objectName(), log);
    }

    void codeTablesAppearWithTheirPages() {
        QVERIFY(w->Image1->pixmap().isNull());
        QVERIFY(w->Image2->pixmap().isNull());
        ClickPage(4);
        QCOMPARE(w->Image1->pixmap().size(), QSize(715, 475));
        ClickPage(5);
        QCOMPARE(w->Image2->pixmap().size(), QSize(573, 322));
    }

    void fiveClicksShowTheHiddenPicture() {
        ClickPage(7);
        for (int click = 1; click <= 4; ++click) {
            QTest::mouseClick(w->Image5, Qt::LeftButton);
            QCOMPARE(w->Image5->Tag, click);
            QVERIFY(w->Image5->isVisible());
            QVERIFY(!w->Label20->isVisible());
            QCOMPARE(w->Label20->geometry(), QRect(30, 30, 16, 16));
        }
        QTest::mouseClick(w->Image5, Qt::LeftButton);
        QVERIFY(!w->Image5->isVisible());
        QVERIFY(w->Label20->isVisible());
        QCOMPARE(w->Label20->geometry(), QRect(30, 30, 150, 176));
        QCOMPARE(w->Label20->pixmap().size(), QSize(150, 176));
        // Topmost among the panel's children.
        QCOMPARE(w->Panel1->childAt(QPoint(100, 100)), w->Label20);
    }

    void escapePressesStopOnlyWhileEnabled() {
        int stops = 0;
        connect(w->BitBtn3, &QPushButton::clicked, this, [&stops] { ++stops; });
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        QTest::keyClick(w.get(), Qt::Key_Escape);
        QCOMPARE(stops, 0);
        w->BitBtn3->setEnabled(true);
        QTest::keyClick(w.get(), Qt::Key_Escape);
        QCOMPARE(stops, 1);
    }

    // Cal and Notepad start the first usual program found on PATH, without a shell.
    void desktopPrograms_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("program");
        QTest::newRow("Cal") << "BitBtn6"
                             << "xcalc";
        QTest::newRow("Notepad") << "BitBtn7"
                                 << "xedit";
    }
    void desktopPrograms() {
        QFETCH(QString, button);
        QFETCH(QString, program);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString marker = dir.filePath(QStringLiteral("started"));
        QFile script(dir.filePath(program));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\necho \"$0\" > \"${0%/*}/started\"\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", dir.path().toLocal8Bit());
        test::BoxRecorder boxes;
        QTest::mouseClick(w->findChild<QPushButton*>(button), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 10000);

        // Nothing to start: nothing happens and nothing is reported.
        QVERIFY(QFile::remove(script.fileName()));
        QTest::mouseClick(w->findChild<QPushButton*>(button), Qt::LeftButton);
        qputenv("PATH", path);
        QVERIFY(boxes.boxes.empty());
    }
};

}  // namespace tarvik

TARVIK_APP_TEST_MAIN(tarvik::WindowTest)
#include "window_test.moc"
