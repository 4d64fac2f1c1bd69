// Any text read as a timed capture gives records or a clear refusal, never a
// touch of memory it does not own; the same whether it comes whole or in
// pieces of any size (as it does from a file or a pipe); and the records it
// gives, written again, read back as the same records.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "capture/capture_format.h"

namespace {

using tarvik::capture::CaptureParser;
using tarvik::capture::CaptureRecord;
using tarvik::capture::ECaptureFormat;

struct Outcome {
    std::vector<CaptureRecord> records;
    std::string warning;
    std::string error;  // "" when read
};

// In pieces of `piece` bytes (0: whole), with a small line bound so that
// the bound is reached as well.
Outcome Read(std::string_view text, std::size_t piece, std::size_t maxLine) {
    Outcome outcome;
    CaptureParser parser(maxLine);
    try {
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t n = piece == 0 ? text.size() : piece;
            parser.Feed(text.substr(at, n),
                        [&](CaptureRecord&& record) { outcome.records.push_back(record); });
            at += n;
        }
        outcome.warning = parser.Finish();
    } catch (const ECaptureFormat& error) {
        outcome.error = error.what();
    }
    return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    // The first byte chooses the piece size; the rest is the file.
    const std::size_t piece = data[0] % 17;
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::size_t maxLine = 64 + data[0];

    const Outcome whole = Read(text, 0, maxLine);
    const Outcome pieces = Read(text, piece, maxLine);
    if (whole.records != pieces.records || whole.warning != pieces.warning ||
        whole.error != pieces.error)
        std::abort();
    if (!whole.error.empty())
        return 0;

    std::string again(tarvik::capture::kTimedHeader);
    for (const CaptureRecord& record : whole.records)
        tarvik::capture::AppendRecordLine(record, again);
    std::string warning;
    if (tarvik::capture::ParseCapture(again, &warning) != whole.records || !warning.empty())
        std::abort();
    return 0;
}
