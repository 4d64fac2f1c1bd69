#include "app/frmmain.h"

#include <QLabel>
#include <QPushButton>
#include <QTabWidget>

#include "app/executable_dir.h"
#include "app/guarded.h"
#include "app/image_control.h"
#include "app/pictures.h"
#include "serial/port/com_port.h"

namespace tarvik {

Tfrmmain::Tfrmmain(QWidget* parent) : Tfrmmain(parent, Text()) {}

Tfrmmain::Tfrmmain(QWidget* parent, const Text& portArgument)
    : Tfrmmain(parent, portArgument, TLineOptions{}) {}

Tfrmmain::Tfrmmain(QWidget* parent, const Text& portArgument, const TLineOptions& options)
    : QWidget(parent) {
    // The window's description in its order; see frmmain_port.cpp.
    CreatePort(portArgument);
    ApplyPortOptions(options);
    CreateSelectors(portArgument);
    BuildLayout();
    BuildLinePage();
    BuildPortLinesControls();
    BuildCaptureControls();
    BuildPlotControls();
    BuildCheckOption();
    BuildFindBar();
    BuildSequencesPage();
    PrepareReceiveLogs();
    PrepareTimeline();
    LinkSelectors();
    C1->EndLoading();
    ConnectHandlers();
    ConnectPortHandlers();
    ConnectSendHandlers();
    ConnectLineHandlers();
    ConnectSignalHandlers();
    ConnectPortLinesHandlers();
    ConnectCheckOption();
    ConnectSequenceHandlers();
    FormCreate();
    SetLineOptions(options);
    ShowLineState();
    ShowPortIdentity();
}

Tfrmmain::~Tfrmmain() {
    // The port goes first, while every control is whole: closing it may still
    // serve an arrival that its event thread has begun to hand over.
    portClosing_ = true;
    delete C1;
    // After the port: its "closed" is the capture's last record.
    for (auto& capture : captures_)
        capture.reset();
}

void Tfrmmain::ConnectHandlers() {
    connect(BitBtn4, &QPushButton::clicked, this, Command(&Tfrmmain::BitBtn4Click));
    connect(BitBtn5, &QPushButton::clicked, this, Command(&Tfrmmain::BitBtn5Click));
    connect(BitBtn6, &QPushButton::clicked, this, Command(&Tfrmmain::BitBtn6Click));
    connect(BitBtn7, &QPushButton::clicked, this, Command(&Tfrmmain::BitBtn7Click));
    connect(BitBtn8, &QPushButton::clicked, this, Command(&Tfrmmain::BitBtn8Click));
    connect(PageControl1, &QTabWidget::currentChanged, this,
            Guarded(this, &Tfrmmain::PageControl1Change));
    connect(PageControl1, &QTabWidget::currentChanged, this,
            Guarded(this, &Tfrmmain::LoadPagePictures));
    connect(Image5, &TImage::Click, this, Guarded(this, &Tfrmmain::Image5Click));
}

void Tfrmmain::FormCreate() {
    tempList = new TLineList(this);
    tempList->setObjectName(QStringLiteral("tempList"));
    tempList->setVisible(false);
    LastPath = QString::fromStdString(DialogStartDir()) + QLatin1Char('/');
    PageControl1Change();
    BitBtn8Click();
}

void Tfrmmain::BitBtn8Click() {
    TLineList* const logs[] = {RX1, RX2, RX3, RX4};
    for (auto* log : logs) log->clear();
    for (auto* log : logs) log->addItem(QString());
}

void Tfrmmain::PageControl1Change() {
    const QWidget* page = PageControl1->currentWidget();
    if (page == TabSheet1) {
        ActiveLog = RX1;
    } else if (page == TabSheet2) {
        ActiveLog = RX2;
    } else if (page == TabSheet3) {
        ActiveLog = RX3;
    } else if (page == TabSheet4) {
        ActiveLog = RX4;
    }
    // Other pages leave ActiveLog alone: arrivals keep going to the log shown last.
}

void Tfrmmain::LoadPagePictures() {
    // The code tables are the largest pictures; decoding them only when their
    // page is first shown keeps start-up quick and the idle window small.
    const QWidget* page = PageControl1->currentWidget();
    if (page == TabSheet5 && Image1->pixmap().isNull()) {
        Image1->setPixmap(LoadPicture("ascii"));
    } else if (page == TabSheet6 && Image2->pixmap().isNull()) {
        Image2->setPixmap(LoadPicture("ascii_extend"));
    }
}

void Tfrmmain::Image5Click() {
    Image5->Tag += 1;
    if (Image5->Tag != 5)
        return;
    Image5->setVisible(false);
    Label20->setVisible(true);
    Label20->move(30, Label20->y());
    Label20->resize(150, 176);
    Label20->raise();
}

}  // namespace tarvik
