#include "app/transfer_dialog.h"

#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>
#include <stdexcept>

#include "app/file_dialog.h"
#include "app/guarded.h"
#include "codec/pattern.h"
#include "transfer/progress.h"

namespace tarvik {

namespace {

const transfer::Mode kSendModes[] = {transfer::Mode::kText, transfer::Mode::kRaw,
                                     transfer::Mode::kXmodem, transfer::Mode::kXmodem1k,
                                     transfer::Mode::kYmodem};
const transfer::Mode kReceiveModes[] = {transfer::Mode::kXmodem, transfer::Mode::kYmodem};

// In the order of transfer::LineEnd.
const char* const kLineEndItems[] = {"As they are", "CR", "CR LF", "LF"};

QSpinBox* Milliseconds(QWidget* parent, const char* name, int value, int minimum = 0) {
    auto* box = new QSpinBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setRange(minimum, INT_MAX);  // no cap: a slow device sets the pace
    box->setValue(value);
    return box;
}

QString Size(std::uint64_t bytes) {
    if (bytes < 10 * 1024)
        return QString::number(bytes) + QStringLiteral(" bytes");
    if (bytes < 10 * 1024 * 1024)
        return QString::number(static_cast<double>(bytes) / 1024, 'f', 1) + QStringLiteral(" KiB");
    return QString::number(static_cast<double>(bytes) / (1024 * 1024), 'f', 1) +
           QStringLiteral(" MiB");
}

}  // namespace

TTransferDialog::TTransferDialog(QWidget* owner, Actions actions)
    : QDialog(owner), actions_(std::move(actions)) {
    setObjectName(QStringLiteral("TransferDialog1"));
    setWindowTitle(QStringLiteral("Send file"));
    auto* form = new QFormLayout;

    auto* fileRow = new QHBoxLayout;
    FileEdit = new QLineEdit(this);
    FileEdit->setObjectName(QStringLiteral("FileEdit"));
    BrowseButton = new QPushButton(QStringLiteral("&Browse..."), this);
    BrowseButton->setObjectName(QStringLiteral("BrowseButton"));
    BrowseButton->setAutoDefault(false);
    fileRow->addWidget(FileEdit, 1);
    fileRow->addWidget(BrowseButton);
    form->addRow(QStringLiteral("&File:"), fileRow);
    qobject_cast<QLabel*>(form->labelForField(fileRow))->setBuddy(FileEdit);

    ModeBox = new QComboBox(this);
    ModeBox->setObjectName(QStringLiteral("ModeBox"));
    form->addRow(QStringLiteral("&Mode:"), ModeBox);

    textOptions_ = new QWidget(this);
    auto* text = new QFormLayout(textOptions_);
    text->setContentsMargins(0, 0, 0, 0);
    CharDelay = Milliseconds(textOptions_, "CharDelay", 0);
    text->addRow(QStringLiteral("Delay after each &character (ms):"), CharDelay);
    LineDelay = Milliseconds(textOptions_, "LineDelay", 0);
    text->addRow(QStringLiteral("Delay after each &line (ms):"), LineDelay);
    LineEndBox = new QComboBox(textOptions_);
    LineEndBox->setObjectName(QStringLiteral("LineEndBox"));
    for (const char* item : kLineEndItems) LineEndBox->addItem(QString::fromLatin1(item));
    text->addRow(QStringLiteral("Line &ends:"), LineEndBox);
    WaitForEdit = new QLineEdit(textOptions_);
    WaitForEdit->setObjectName(QStringLiteral("WaitForEdit"));
    WaitForEdit->setToolTip(QStringLiteral(
        "After each line, wait for these bytes before the next: the notation, \"text\" in "
        "double quotes, ?? for any byte; empty: wait for nothing"));
    text->addRow(QStringLiteral("&Wait for:"), WaitForEdit);
    WaitTimeout = Milliseconds(textOptions_, "WaitTimeout", 5000, 1);
    text->addRow(QStringLiteral("Wait at &most (ms):"), WaitTimeout);
    form->addRow(textOptions_);

    rawOptions_ = new QWidget(this);
    auto* raw = new QFormLayout(rawOptions_);
    raw->setContentsMargins(0, 0, 0, 0);
    BlockSize = Milliseconds(rawOptions_, "BlockSize", 1024, 1);
    BlockSize->setRange(1, 1024 * 1024);
    raw->addRow(QStringLiteral("Block si&ze (bytes):"), BlockSize);
    BlockDelay = Milliseconds(rawOptions_, "BlockDelay", 0);
    BlockDelay->setToolTip(QStringLiteral("0: as fast as the line takes the blocks"));
    raw->addRow(QStringLiteral("&Delay after each block (ms):"), BlockDelay);
    form->addRow(rawOptions_);

    Bar = new QProgressBar(this);
    Bar->setObjectName(QStringLiteral("Bar"));
    Bar->setRange(0, 1000);
    Bar->setValue(0);
    StatusLabel = new QLabel(this);
    StatusLabel->setObjectName(QStringLiteral("StatusLabel"));
    StatusLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* buttons = new QHBoxLayout;
    StartButton = new QPushButton(QStringLiteral("&Start"), this);
    StartButton->setObjectName(QStringLiteral("StartButton"));
    StartButton->setDefault(true);
    CancelButton = new QPushButton(QStringLiteral("Close"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    CancelButton->setAutoDefault(false);
    buttons->addStretch(1);
    buttons->addWidget(StartButton);
    buttons->addWidget(CancelButton);

    auto* column = new QVBoxLayout(this);
    column->addLayout(form);
    column->addWidget(Bar);
    column->addWidget(StatusLabel);
    column->addLayout(buttons);

    connect(BrowseButton, &QPushButton::clicked, this, Guarded(this, &TTransferDialog::Browse));
    connect(StartButton, &QPushButton::clicked, this, Guarded(this, &TTransferDialog::StartClick));
    connect(CancelButton, &QPushButton::clicked, this,
            Guarded(this, &TTransferDialog::CancelClick));
    connect(ModeBox, &QComboBox::currentIndexChanged, this,
            Guarded(this, &TTransferDialog::ShowModeOptions));
    Prepare(false);
}

void TTransferDialog::Prepare(bool receive) {
    const QString mode = ModeBox->currentText();
    receive_ = receive;
    setWindowTitle(receive ? QStringLiteral("Receive file") : QStringLiteral("Send file"));
    ModeBox->clear();
    if (receive) {
        for (const transfer::Mode item : kReceiveModes)
            ModeBox->addItem(QString::fromLatin1(transfer::ModeName(item)));
    } else {
        for (const transfer::Mode item : kSendModes)
            ModeBox->addItem(QString::fromLatin1(transfer::ModeName(item)));
    }
    if (const int kept = ModeBox->findText(mode); kept >= 0)
        ModeBox->setCurrentIndex(kept);
    ShowModeOptions();
}

void TTransferDialog::Fill(const transfer::Job& job) {
    Prepare(job.receive);
    FileEdit->setText(QFile::decodeName(job.path.c_str()));
    ModeBox->setCurrentIndex(ModeBox->findText(QString::fromLatin1(transfer::ModeName(job.mode))));
}

transfer::Job TTransferDialog::ControlsJob() const {
    transfer::Job job;
    job.receive = receive_;
    job.mode = transfer::ModeNamed(ModeBox->currentText().toStdString()).value_or(transfer::Mode::kText);
    const QString path = FileEdit->text();
    if (path.isEmpty())
        throw std::invalid_argument(receive_ ? "Name the file or folder to receive into"
                                             : "Name the file to send");
    job.path = QFile::encodeName(path).toStdString();
    job.text.charDelayMs = CharDelay->value();
    job.text.lineDelayMs = LineDelay->value();
    job.text.lineEnd = static_cast<transfer::LineEnd>(LineEndBox->currentIndex());
    if (!WaitForEdit->text().trimmed().isEmpty())
        job.text.waitFor = runner::ParsePattern(WaitForEdit->text().toStdString());
    job.text.waitTimeoutMs = WaitTimeout->value();
    job.raw.blockBytes = static_cast<std::size_t>(BlockSize->value());
    job.raw.blockDelayMs = BlockDelay->value();
    job.modem.oneK = job.mode == transfer::Mode::kXmodem1k;
    return job;
}

void TTransferDialog::ShowModeOptions() {
    const QString mode = ModeBox->currentText();
    textOptions_->setVisible(mode == QLatin1String("text"));
    rawOptions_->setVisible(mode == QLatin1String("raw"));
    FileEdit->setToolTip(receive_ && mode == QLatin1String("ymodem")
                             ? QStringLiteral("The folder the files go to")
                             : QString());
    adjustSize();
}

void TTransferDialog::Browse() {
    const QString mode = ModeBox->currentText();
    FileDialogRequest request;
    request.kind = !receive_                          ? FileDialogKind::Open
                   : mode == QLatin1String("ymodem") ? FileDialogKind::Folder
                                                      : FileDialogKind::Save;
    request.caption = windowTitle();
    const QFileInfo current(FileEdit->text());
    if (!FileEdit->text().isEmpty()) {
        request.initialDir = current.absolutePath();
        request.fileName = current.fileName();
    }
    request.filter = QStringLiteral("All files|*");
    if (const FileDialogAnswer chosen = ShowFileDialog(request))
        FileEdit->setText(*chosen);
}

void TTransferDialog::StartClick() {
    if (actions_.running())
        return;
    actions_.start(ControlsJob());
}

void TTransferDialog::CancelClick() {
    if (actions_.running())
        actions_.cancel();
    else
        hide();
}

void TTransferDialog::reject() {
    CancelClick();
}

void TTransferDialog::ShowStarted() {
    Bar->setRange(0, 1000);
    Bar->setValue(0);
    StatusLabel->setText(QStringLiteral("Starting..."));
    StartButton->setEnabled(false);
    CancelButton->setText(QStringLiteral("Cancel"));
    for (QWidget* control : {static_cast<QWidget*>(FileEdit), static_cast<QWidget*>(BrowseButton),
                             static_cast<QWidget*>(ModeBox), textOptions_, rawOptions_})
        control->setEnabled(false);
}

void TTransferDialog::ShowProgress(const transfer::Progress& figures) {
    // XMODEM tells no size: the bar then only says that the transfer goes on.
    if (figures.total > 0) {
        Bar->setRange(0, 1000);
        Bar->setValue(static_cast<int>(std::min<std::uint64_t>(figures.bytes, figures.total) * 1000 /
                                       figures.total));
    } else {
        Bar->setRange(0, 0);
    }
    QString text = Size(figures.bytes);
    if (figures.total > 0)
        text += QStringLiteral(" of ") + Size(figures.total);
    text += QStringLiteral(", ") + QString::fromStdString(transfer::FormatRate(figures.rate));
    if (figures.secondsLeft >= 0)
        text += QStringLiteral(", ") +
                QString::fromStdString(transfer::FormatSeconds(figures.secondsLeft)) +
                QStringLiteral(" left");
    if (figures.retries > 0)
        text += QStringLiteral(", %1 retries").arg(figures.retries);
    StatusLabel->setText(text);
}

void TTransferDialog::ShowEnded(const QString& text, bool whole) {
    StatusLabel->setText(text);
    Bar->setRange(0, 1000);
    if (whole)
        Bar->setValue(1000);
    StartButton->setEnabled(true);
    CancelButton->setText(QStringLiteral("Close"));
    for (QWidget* control : {static_cast<QWidget*>(FileEdit), static_cast<QWidget*>(BrowseButton),
                             static_cast<QWidget*>(ModeBox), textOptions_, rawOptions_})
        control->setEnabled(true);
}

}  // namespace tarvik
