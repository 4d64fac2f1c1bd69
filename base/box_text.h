#pragma once
// A message box shows at most a screenful: a text of any length (an error
// that quotes a command line of megabytes) is cut to its first lines, long
// lines broken, and ends with "… (N characters)"; the rest goes under the
// box's details, itself bounded. The error keeps its whole text; only what
// is shown is cut. Plain functions; any thread.

#include <cstddef>
#include <string>
#include <string_view>

namespace tarvik {

struct BoxTextLimits {
    std::size_t lines = 20;           // lines shown, counting broken ones
    std::size_t columns = 80;         // characters a shown line holds before it is broken
    std::size_t characters = 1200;    // characters shown in all
    std::size_t details = 64 * 1024;  // characters under the details
};

struct BoxText {
    std::string shown;    // UTF-8
    std::string details;  // empty when the whole text is shown
};

// `text` is UTF-8; characters are counted as code points.
BoxText FitToScreen(std::string_view text, const BoxTextLimits& limits = {});

}  // namespace tarvik
