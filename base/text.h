#pragma once
// Texts of the program are 8-bit: one char is one byte, and every value 0..255
// passes through unchanged. std::string carries them; its length counts bytes.
//
// The window shows and edits Unicode. The mapping between the two is Latin-1:
// code points U+0000..U+00FF are the bytes 0x00..0xFF, so every byte survives a
// round trip through a widget. Characters outside Latin-1 have no byte; see
// the Latin-1 conversion in the window layer for how they are refused.

#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tarvik {

using Text = std::string;

// Messages (exception texts, catalog texts) are UTF-8. An 8-bit text quoted
// inside a message is widened from Latin-1 so that no byte is lost or mangled.
std::string Latin1ToUtf8(std::string_view latin1);

// An error whose message quotes the user's bytes, so it may hold a NUL:
// what() ends at the first one, Message() keeps every byte.
class ETextError : public std::runtime_error {
  public:
    explicit ETextError(const std::string& message)
        : std::runtime_error(message), message_(message) {}
    const std::string& Message() const { return message_; }

  private:
    std::string message_;
};

// The whole message of any error: Message() of an ETextError, else what().
std::string ErrorMessage(const std::exception& error);

}  // namespace tarvik
