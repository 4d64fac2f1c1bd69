#include "app/line_options.h"

#include "timeline/message_rule.h"

namespace tarvik {

std::optional<unsigned char> ParseEndByte(std::string_view text) {
    return timeline::ParseEndByte(text);
}

}  // namespace tarvik
