#pragma once
// The file transfer dialog: the file (or, for a YMODEM receive, the folder),
// the mode and its options, a progress bar with bytes, rate and time left,
// Start and Cancel. It does not block the window: it only asks the window to
// start or cancel a transfer, and shows what the window tells it.
// Main thread only.

#include <QDialog>
#include <functional>

#include "transfer/engine.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QWidget;

namespace tarvik {

class TTransferDialog : public QDialog {
  public:
    struct Actions {
        std::function<void(const transfer::Job&)> start;  // raises when it cannot start
        std::function<void()> cancel;
        std::function<bool()> running;
    };
    TTransferDialog(QWidget* owner, Actions actions);

    // Empties nothing the user chose: the direction, and the modes it has.
    void Prepare(bool receive);
    // The job's file and mode in the controls (the start-up transfer).
    void Fill(const transfer::Job& job);
    // The job the controls describe. Raises for a missing file name or a
    // wait-for pattern that cannot be read.
    transfer::Job ControlsJob() const;

    void ShowStarted();
    void ShowProgress(const transfer::Progress& figures);
    // `whole`: the transfer ended well (the bar full).
    void ShowEnded(const QString& text, bool whole);

    QLineEdit* FileEdit = nullptr;
    QPushButton* BrowseButton = nullptr;
    QComboBox* ModeBox = nullptr;
    QSpinBox* CharDelay = nullptr;  // ms after each character
    QSpinBox* LineDelay = nullptr;  // ms after each line
    QComboBox* LineEndBox = nullptr;
    QLineEdit* WaitForEdit = nullptr;  // the notation, "??" for any byte
    QSpinBox* WaitTimeout = nullptr;   // ms
    QSpinBox* BlockSize = nullptr;     // raw: bytes written at once
    QSpinBox* BlockDelay = nullptr;    // raw: ms after each block
    QProgressBar* Bar = nullptr;
    QLabel* StatusLabel = nullptr;
    QPushButton* StartButton = nullptr;
    QPushButton* CancelButton = nullptr;  // "Cancel"; "Close" when nothing runs

  protected:
    // Esc and the title bar's close: a transfer that runs is cancelled, and
    // the dialog stays until it has ended.
    void reject() override;

  private:
    void Browse();
    void StartClick();
    void CancelClick();
    void ShowModeOptions();

    Actions actions_;
    bool receive_ = false;
    QWidget* textOptions_ = nullptr;
    QWidget* rawOptions_ = nullptr;
};

}  // namespace tarvik
