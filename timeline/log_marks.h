#pragma once
// Marks in front of the log lines that are not received bytes, so that they
// are told apart at a glance and in a saved file: the window's logs and the
// runner's transcript write them alike.

#include <string_view>

namespace tarvik::timeline {

inline constexpr std::string_view kSentMark = ">> ";
inline constexpr std::string_view kEventMark = "== ";

}  // namespace tarvik::timeline
