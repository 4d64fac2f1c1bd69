// Every control of the window with its place, caption, initial state and tab order.
// Positions are pixels at 96 dpi, as the window was designed.

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>
#include <chrono>
#include <limits>

#include "app/anchors.h"
#include "app/caption_fit.h"
#include "app/command_line_edit.h"
#include "app/default_error.h"
#include "app/frmmain.h"
#include "app/help_text.h"
#include "app/image_control.h"
#include "app/pictures.h"
#include "app/timer.h"
#include "app/window_keys.h"

namespace tarvik {

namespace {

constexpr std::chrono::milliseconds kTimerInterval{100};
constexpr QSize kButtonPicture{24, 24};

template <typename T>
T* Place(T* widget, const char* name, int left, int top, int width, int height) {
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(left, top, width, height);
    return widget;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, const char* picture,
                        int left, int width) {
    auto* button =
        Place(new QPushButton(QString::fromLatin1(caption), parent), name, left, 35, width, 35);
    button->setIcon(LoadTransparentPicture(picture));
    button->setIconSize(kButtonPicture);
    return button;
}

TLineList* MakeLog(QWidget* page, const char* name, QAbstractItemView::SelectionMode mode) {
    auto* list = new TLineList(page);
    list->setObjectName(QString::fromLatin1(name));
    list->setSelectionMode(mode);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(list);
    return list;
}

void MakeWhite(QWidget* widget) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, Qt::white);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

// A white scroll box filling the page, holding one picture at the given place.
QScrollArea* MakeScrollBox(QWidget* page, const char* name, QLabel* picture, QRect place) {
    auto* box = new QScrollArea(page);
    box->setObjectName(QString::fromLatin1(name));
    auto* content = new QWidget;
    MakeWhite(content);
    picture->setParent(content);
    picture->setGeometry(place);
    // The scroll range reaches the picture's right and bottom edges.
    content->resize(place.right() + 1, place.bottom() + 1);
    box->setWidget(content);
    MakeWhite(box->viewport());
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(box);
    return box;
}

QLabel* MakeText(QWidget* parent, const char* name, const QString& text, QColor color) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    return label;
}

}  // namespace

void Tfrmmain::BuildLayout() {
    setObjectName(QStringLiteral("frmmain"));
    setWindowTitle(QString::fromUtf8(kApplicationTitle));
    // The captions were fitted to a narrow 11-pixel sans serif; the narrow
    // families come first, the desktop's sans serif last.
    QFont font(QStringList{QStringLiteral("MS Sans Serif"), QStringLiteral("Arial"),
                           QStringLiteral("Liberation Sans"),
                           QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("Sans Serif")});
    font.setPixelSize(11);
    setFont(font);
    setWindowIcon(LoadTransparentPicture("about"));
    resize(kClientSize);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }

    // Top row. x 20..271 is the port selectors' place.
    Image3 = Place(new QLabel(this), "Image3", 290, 5, 16, 16);
    Image3->setPixmap(LoadTransparentPicture("timer"));
    CheckBox1 =
        Place(new QCheckBox(QStringLiteral("&Timer(ms):"), this), "CheckBox1", 310, 5, 71, 17);
    KeepCaptionWhole(CheckBox1);
    Edit1 = Place(new QLineEdit(QStringLiteral("300"), this), "Edit1", 385, 5, 91, 21);
    CheckBox2 = Place(new QCheckBox(QStringLiteral("ASC&II"), this), "CheckBox2", 495, 5, 61, 17);
    CheckBox2->setChecked(true);

    BitBtn2 = MakeButton(this, "BitBtn2", "&Start", "start", 20, 75);
    BitBtn3 = MakeButton(this, "BitBtn3", "Sto&p", "stop", 100, 75);
    BitBtn1 = MakeButton(this, "BitBtn1", "S&end", "send", 180, 75);
    BitBtn4 = MakeButton(this, "BitBtn4", "SU&M", "sum", 260, 75);
    BitBtn5 = MakeButton(this, "BitBtn5", "&BCC", "bcc", 340, 75);
    BitBtn6 = MakeButton(this, "BitBtn6", "&Cal", "cal", 420, 81);
    BitBtn7 = MakeButton(this, "BitBtn7", "&Notepad", "notepad", 505, 81);
    BitBtn8 = MakeButton(this, "BitBtn8", "Clear &all", "clear", 590, 81);
    BitBtn3->setEnabled(false);
    BitBtn1->setEnabled(false);
    // Stop is the window's cancel button: Esc presses it while it is enabled
    // (click() does nothing on a disabled button).
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, BitBtn3, &QPushButton::click);
    new TWindowKeys(this);

    RadioButton1 =
        Place(new QRadioButton(QStringLiteral("->"), this), "RadioButton1", 10, 75, 31, 17);
    RadioButton1->setChecked(true);
    ComboBox1 = Place(new QComboBox(this), "ComboBox1", 45, 75, 631, 21);
    ComboBox1->setEditable(true);
    // Stays quick with a pasted line of megabytes.
    ComboBox1->setLineEdit(new TCommandLineEdit(ComboBox1));
    // The list stays empty: Enter must not add the line to it.
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    // A command text has no length limit: the line edit's default of 32767
    // characters would cut a long line silently, and the codec refuses what
    // it cannot hold with a message of its own.
    ComboBox1->lineEdit()->setMaxLength(std::numeric_limits<int>::max());
    RadioButton2 =
        Place(new QRadioButton(QStringLiteral("->"), this), "RadioButton2", 10, 140, 31, 17);
    TX1 = Place(new TLineList(this), "TX1", 45, 100, 630, 97);
    TX1->setSelectionMode(QAbstractItemView::SingleSelection);
    KeepTabStopOnSelected({RadioButton1, RadioButton2});

    PageControl1 = Place(new QTabWidget(this), "PageControl1", 5, 200, 670, 332);
    PageControl1->tabBar()->setAttribute(Qt::WA_Hover);  // a tab lights up under the mouse
    const auto addPage = [this](const char* name, const char* caption) {
        auto* page = new QWidget;
        page->setObjectName(QString::fromLatin1(name));
        PageControl1->addTab(page, QString::fromLatin1(caption));
        return page;
    };
    TabSheet1 = addPage("TabSheet1", "Rx &1");
    TabSheet2 = addPage("TabSheet2", "Rx &2");
    TabSheet3 = addPage("TabSheet3", "Rx &3");
    TabSheet4 = addPage("TabSheet4", "Rx &4");
    TabSheet5 = addPage("TabSheet5", "ASCII");
    TabSheet6 = addPage("TabSheet6", "ASCII Extend");
    TabSheet7 = addPage("TabSheet7", "Help");
    TabSheet8 = addPage("TabSheet8", "About");

    RX1 = MakeLog(TabSheet1, "RX1", QAbstractItemView::ExtendedSelection);
    RX2 = MakeLog(TabSheet2, "RX2", QAbstractItemView::SingleSelection);
    RX3 = MakeLog(TabSheet3, "RX3", QAbstractItemView::SingleSelection);
    RX4 = MakeLog(TabSheet4, "RX4", QAbstractItemView::SingleSelection);
    BuildPopupMenu();

    Image1 = new QLabel;
    Image1->setObjectName(QStringLiteral("Image1"));
    ScrollBox1 = MakeScrollBox(TabSheet5, "ScrollBox1", Image1, QRect(8, -1, 715, 475));
    Image2 = new QLabel;
    Image2->setObjectName(QStringLiteral("Image2"));
    ScrollBox2 = MakeScrollBox(TabSheet6, "ScrollBox2", Image2, QRect(5, 5, 573, 322));

    Memo1 = new QPlainTextEdit(TabSheet7);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QStringList help;
    for (const char* line : kHelpLines) help << QString::fromLatin1(line);
    Memo1->setPlainText(help.join(QLatin1Char('\n')));
    (new QVBoxLayout(TabSheet7))->addWidget(Memo1);
    TabSheet7->layout()->setContentsMargins(0, 0, 0, 0);

    Panel1 = new QFrame(TabSheet8);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameShape(QFrame::NoFrame);
    MakeWhite(Panel1);
    (new QVBoxLayout(TabSheet8))->addWidget(Panel1);
    TabSheet8->layout()->setContentsMargins(0, 0, 0, 0);

    Label1 = MakeText(Panel1, "Label1", QString::fromUtf8(kApplicationTitle), QColor(0x80, 0, 0));
    QFont titleFont(QStringList{QStringLiteral("Comic Sans MS"), QStringLiteral("Sans Serif")});
    titleFont.setPixelSize(27);
    titleFont.setBold(true);
    Label1->setFont(titleFont);
    Label1->move(185, 20);
    Label1->adjustSize();

    Image5 = Place(new TImage(Panel1), "Image5", 35, 25, 48, 48);
    Image5->setPixmap(LoadTransparentPicture("about"));
    Image5->setAlignment(Qt::AlignCenter);

    Label3 = MakeText(Panel1, "Label3",
                      QStringLiteral("A serial line test terminal for Linux, built on Qt 6"),
                      QColor(0, 0x80, 0));
    Label3->move(275, 60);
    Label3->adjustSize();

    Label2 =
        MakeText(Panel1, "Label2",
                 QStringLiteral("Copyright \u00A9 the Tarvik 2 developers. All rights reserved."),
                 QColor(0x80, 0x80, 0));
    Label2->adjustSize();
    Label2->setGeometry(0, 291, Label2->width(), Label2->height());
    Anchor(Label2, Qt::LeftEdge | Qt::RightEdge | Qt::BottomEdge,
           QSize(Label2->width(), 291 + Label2->height()));

    Label20 = Place(new QLabel(Panel1), "Label20", 30, 30, 16, 16);
    Label20->setPixmap(LoadPicture("hidden"));
    Label20->setAlignment(Qt::AlignLeft | Qt::AlignTop);  // not stretched
    Label20->setVisible(false);

    T1 = new TTimer(this);
    T1->setObjectName(QStringLiteral("T1"));
    T1->setInterval(kTimerInterval);

    // The command line, the history and the page control widen with the
    // window; the page control also grows downwards.
    Anchor(ComboBox1, Qt::LeftEdge | Qt::TopEdge | Qt::RightEdge, kClientSize);
    Anchor(TX1, Qt::LeftEdge | Qt::TopEdge | Qt::RightEdge, kClientSize);
    Anchor(PageControl1, Qt::LeftEdge | Qt::TopEdge | Qt::RightEdge | Qt::BottomEdge, kClientSize);

    // Tab orders 0..2 belong to the port selectors, which go in front of CheckBox1.
    QWidget* const order[] = {CheckBox1, Edit1,        CheckBox2,    BitBtn2,
                              BitBtn3,   BitBtn1,      BitBtn4,      BitBtn5,
                              BitBtn6,   BitBtn7,      BitBtn8,      ComboBox1,
                              TX1,       PageControl1, RadioButton2, RadioButton1};
    for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
}

}  // namespace tarvik
