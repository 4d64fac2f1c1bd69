#pragma once
// The function behind tarvik::ShowMessageBox in the running program: a QMessageBox.

namespace tarvik {

// Installs it. Call on the main thread once the application object exists.
void InstallQtMessageBox();

}  // namespace tarvik
