// Any text given to expect is a pattern or a refusal, never a touch of
// memory it does not own; a pattern matches the bytes it describes (any
// value where it has "??", its check value after them), waits on a prefix
// of them, and refuses them with one byte changed where it names that byte.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "runner/pattern.h"

using tarvik::runner::EPattern;
using tarvik::runner::MatchState;
using tarvik::runner::Pattern;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::uint8_t choice = data[0];
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    // The text as a check value's name: known or refused, nothing else.
    try {
        tarvik::runner::CheckValueNamed(text);
    } catch (const EPattern&) {
    }
    Pattern pattern;
    try {
        pattern = tarvik::runner::ParsePattern(text);
    } catch (const EPattern&) {
        return 0;
    }
    if (pattern.bytes.empty() || pattern.any.size() != pattern.bytes.size())
        std::abort();
    const auto& checks = fun::CheckValues();
    if (choice & 1)
        tarvik::runner::AddCheck(pattern, checks[(choice >> 1) % checks.size()]);

    std::string bytes = pattern.bytes;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (pattern.any[i])
            bytes[i] = static_cast<char>(choice ^ i);
    }
    if (pattern.check != nullptr)
        bytes += fun::CheckValueBytes(
            *pattern.check, {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
    if (bytes.size() != pattern.Size())
        std::abort();
    if (tarvik::runner::Match(pattern, bytes).state != MatchState::Matched)
        std::abort();
    if (tarvik::runner::Match(pattern, std::string_view(bytes).substr(0, bytes.size() - 1)).state !=
        MatchState::Partial)
        std::abort();
    const std::size_t at = choice % pattern.bytes.size();
    if (!pattern.any[at]) {
        bytes[at] = static_cast<char>(bytes[at] ^ 0x5A);
        const auto result = tarvik::runner::Match(pattern, bytes);
        if (result.state != MatchState::Mismatch || result.at != at)
            std::abort();
    }
    return 0;
}
