#include "base/message_box.h"

#include <cstdio>
#include <utility>

namespace tarvik {

namespace {

MessageBoxFunction& CurrentFunction() {
    static MessageBoxFunction function;
    return function;
}

}  // namespace

void ShowMessageBox(const MessageBoxRequest& request) {
    if (const auto& function = CurrentFunction()) {
        function(request);
        return;
    }
    std::fprintf(stderr, "%s: %s\n", request.caption.c_str(), request.text.c_str());
}

MessageBoxFunction SetMessageBoxFunction(MessageBoxFunction function) {
    return std::exchange(CurrentFunction(), std::move(function));
}

}  // namespace tarvik
