// Any text a user may load as a sequence set is either refused with a
// reason or read; what is read is written and read back equal.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "sequences/sequence_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    tarvik::sequences::SequenceSet set;
    try {
        set = tarvik::sequences::ParseSequenceSet(text, "fuzz");
    } catch (const tarvik::sequences::ESequenceFile&) {
        return 0;
    }
    const std::string written = tarvik::sequences::FormatSequenceSet(set);
    if (!(tarvik::sequences::ParseSequenceSet(written, "again") == set))
        std::abort();
    return 0;
}
