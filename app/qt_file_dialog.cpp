#include "app/qt_file_dialog.h"

#include <QApplication>
#include <QFileDialog>

#include "app/file_dialog.h"

namespace tarvik {

namespace {

FileDialogAnswer ShowQtFileDialog(const FileDialogRequest& request) {
    QFileDialog dialog(QApplication::activeWindow(), request.caption, request.initialDir,
                       QtNameFilters(request.filter));
    const bool save = request.kind == FileDialogKind::Save;
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // A name that does not exist yet is accepted by both; opening it then
    // fails with the usual error instead of the dialog refusing it.
    dialog.setFileMode(request.kind == FileDialogKind::Folder ? QFileDialog::Directory
                                                              : QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (!request.fileName.isEmpty())
        dialog.selectFile(request.fileName);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty())
        return std::nullopt;
    return chosen.front();
}

}  // namespace

QString QtNameFilters(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        filters << parts[i] + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    return filters.join(QStringLiteral(";;"));
}

void InstallQtFileDialog() {
    SetFileDialogFunction(ShowQtFileDialog);
}

}  // namespace tarvik
