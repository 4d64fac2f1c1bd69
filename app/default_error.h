#pragma once
// The application's default error handler: every exception that leaves a
// handler of the window ends up here and is shown in one box. Main thread only.

#include <exception>
#include <string>

namespace tarvik {

// The application title: the caption of the window and of the error boxes.
inline constexpr const char* kApplicationTitle = "Tarvik 2";

// The text with a full stop appended when its last character sorts after ".".
// For UTF-8 the last byte decides: a multi-byte character ends in a byte above
// 0x7F, and every such code point sorts after "." as well.
std::string WithFullStop(std::string text);

// Shows the error's whole text (UTF-8, NUL bytes included) with WithFullStop in a box captioned
// kApplicationTitle, with the error icon and OK, through tarvik::ShowMessageBox.
// Returns when the box has been closed.
void ShowDefaultError(const std::exception& error);

}  // namespace tarvik
