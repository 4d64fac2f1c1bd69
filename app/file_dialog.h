#pragma once
// Every file dialog of the program goes through ShowFileDialog, the way every
// message box goes through ShowMessageBox: the application installs the
// function that really shows one (app/qt_file_dialog.h); tests install one
// that answers at once, so no modal loop blocks them.
// Main thread only.

#include <QString>
#include <functional>
#include <optional>

namespace tarvik {

// Folder: an existing folder is chosen (a YMODEM receive's target).
enum class FileDialogKind { Open, Save, Folder };

// What a dialog is asked to show. The chosen file need not exist (neither kind
// requires it), an existing file is not asked about before it is overwritten,
// and no extension is added to the name the user types.
struct FileDialogRequest {
    FileDialogKind kind = FileDialogKind::Open;
    QString caption;     // empty: the dialog's own ("Open", "Save As")
    QString initialDir;  // where it opens; empty: the current directory
    QString fileName;    // the name proposed in the name field, without directory; may be empty
    QString filter;      // pairs "Name|pattern[;pattern]", joined by "|": "Text|*.txt"
};

// The chosen file's full name, or nothing when the user cancelled.
using FileDialogAnswer = std::optional<QString>;
using FileDialogFunction = std::function<FileDialogAnswer(const FileDialogRequest&)>;

// Shows the dialog and returns when it has been closed. Without a function
// installed, every dialog counts as cancelled.
FileDialogAnswer ShowFileDialog(const FileDialogRequest& request);

// Replaces the function behind ShowFileDialog and returns the previous one.
FileDialogFunction SetFileDialogFunction(FileDialogFunction function);

}  // namespace tarvik
