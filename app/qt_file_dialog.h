#pragma once
// The function behind tarvik::ShowFileDialog in the running program: a QFileDialog.

#include <QString>

namespace tarvik {

// Installs it. Call on the main thread once the application object exists.
void InstallQtFileDialog();

// "Text|*.txt|All|*" -> "Text (*.txt);;All (*)": the filter pairs in Qt's notation.
QString QtNameFilters(const QString& filter);

}  // namespace tarvik
