#include "app/file_dialog.h"

#include <utility>

namespace tarvik {

namespace {

FileDialogFunction& Installed() {
    static FileDialogFunction function;
    return function;
}

}  // namespace

FileDialogAnswer ShowFileDialog(const FileDialogRequest& request) {
    const FileDialogFunction& function = Installed();
    if (!function)
        return std::nullopt;
    return function(request);
}

FileDialogFunction SetFileDialogFunction(FileDialogFunction function) {
    return std::exchange(Installed(), std::move(function));
}

}  // namespace tarvik
