#pragma once
// Every message box of the program goes through ShowMessageBox. The application
// installs the function that really shows one; tests install one that records
// the request and returns at once, so no modal loop blocks them.
// Main thread only.

#include <functional>
#include <string>

namespace tarvik {

enum class MessageIcon { Information, Error };

struct MessageBoxRequest {
    std::string text;     // UTF-8
    std::string caption;  // UTF-8
    MessageIcon icon = MessageIcon::Information;
    bool hasOwner = true;  // false: the main window stays enabled while it is open
};

using MessageBoxFunction = std::function<void(const MessageBoxRequest&)>;

// Shows the box and returns when it has been closed.
void ShowMessageBox(const MessageBoxRequest& request);

// Replaces the function behind ShowMessageBox and returns the previous one.
// Without one installed, the text goes to standard error.
MessageBoxFunction SetMessageBoxFunction(MessageBoxFunction function);

}  // namespace tarvik
