#pragma once
// The literals of a Lua script checked before it runs: every send("...")
// and expect('...') whose first argument is a literal string, with a check
// value named by a literal (send's second argument, expect's `check`
// option). A typing error must not surface after half a test rig's sequence
// has been sent. A hand-written scan of the source, outside comments and
// other strings: its cost is linear and its stack flat, whatever the script.
// No Qt; main thread (encoding goes through the codec's module state).

#include <stdexcept>
#include <string>
#include <string_view>

namespace tarvik::runner {

// Throws std::runtime_error "file:line: reason" at the first literal in bad
// notation or unknown check value.
void CheckScriptLiterals(const std::string& fileName, std::string_view source);

}  // namespace tarvik::runner
