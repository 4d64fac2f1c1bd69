#pragma once
// Text on its way to a terminal. A byte a terminal would act on (ESC, BEL,
// the C1 controls, any other control) comes from a file or the line as
// easily as from us, and would let them retitle or reprogram the user's
// terminal: such bytes are shown as escapes instead. Pure functions.

#include <string>
#include <string_view>

namespace tarvik {

// The text with every control byte (0x00-0x1F, 0x7F), every C1 control
// (U+0080-U+009F in UTF-8) and every byte that is no part of valid UTF-8
// written as "\xHH"; the rest of valid UTF-8 passes as it stands.
std::string ForTerminal(std::string_view text);
// The same, appended to `out`.
void AppendForTerminal(std::string_view text, std::string& out);

}  // namespace tarvik
