#include "app/default_error.h"

#include "base/message_box.h"
#include "base/text.h"

namespace tarvik {

std::string WithFullStop(std::string text) {
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.')
        text += '.';
    return text;
}

void ShowDefaultError(const std::exception& error) {
    ShowMessageBox({.text = WithFullStop(ErrorMessage(error)),
                    .caption = kApplicationTitle,
                    .icon = MessageIcon::Error,
                    .hasOwner = true});
}

}  // namespace tarvik
