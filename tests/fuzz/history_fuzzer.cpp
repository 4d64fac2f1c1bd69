// Any history file the runner is given gives the lines it sends, each the
// bytes its text encodes to, or a refusal naming the file and line; never a
// touch of memory it does not own. The order switch only reverses.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "codec/check_value.h"
#include "runner/history_file.h"

using tarvik::runner::EHistoryFile;
using tarvik::runner::HistoryLine;
using tarvik::runner::HistoryOrder;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view content(reinterpret_cast<const char*>(data), size);
    std::vector<HistoryLine> fileOrder;
    try {
        fileOrder = tarvik::runner::ParseHistory(content, "fuzz.txt", HistoryOrder::FileOrder);
    } catch (const EHistoryFile& error) {
        if (std::string_view(error.what()).substr(0, 8) != "fuzz.txt")
            std::abort();
        return 0;
    }
    if (fileOrder.empty())
        std::abort();
    for (const HistoryLine& line : fileOrder) {
        if (line.bytes.empty() || line.bytes != fun::EncodeLine(line.text) ||
            line.text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
            std::abort();
    }
    std::vector<HistoryLine> newestLast =
        tarvik::runner::ParseHistory(content, "fuzz.txt", HistoryOrder::NewestLast);
    if (newestLast.size() != fileOrder.size())
        std::abort();
    for (std::size_t i = 0; i < fileOrder.size(); ++i) {
        if (newestLast[i].text != fileOrder[fileOrder.size() - 1 - i].text)
            std::abort();
    }
    return 0;
}
