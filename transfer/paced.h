#pragma once
// Files sent as they are, paced: text line by line (delays, line ends
// converted, a prompt waited for after each line) and raw binary by block.
// Engine thread; ETransfer on failure.

#include <string>

#include "transfer/channel.h"
#include "transfer/options.h"

namespace tarvik::transfer {

void SendText(Channel& channel, const std::string& path, const TextOptions& options);
void SendRaw(Channel& channel, const std::string& path, const RawOptions& options);

// The file's lines with their ends as `lineEnd` says (a last line without an
// end keeps none). Pure; for the sender and its tests.
std::vector<std::string> SplitLines(std::string_view text, LineEnd lineEnd);

// Whether the pattern matches anywhere in `heard`; when it does, what
// follows the match is left in `heard`.
bool FindPattern(const runner::Pattern& pattern, std::string& heard);

}  // namespace tarvik::transfer
