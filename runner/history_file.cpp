#include "runner/history_file.h"

#include <algorithm>

#include "base/list_file.h"
#include "codec/check_value.h"

namespace tarvik::runner {

std::vector<HistoryLine> ParseHistory(std::string_view content, const std::string& fileName,
                                      HistoryOrder order) {
    std::vector<HistoryLine> history;
    std::size_t number = 0;
    ForEachListLine(content, [&](std::size_t start, std::size_t length) {
        ++number;
        const std::string text(content.substr(start, length));
        try {
            std::string bytes = fun::EncodeLine(text);
            if (!bytes.empty())
                history.push_back({text, std::move(bytes)});
        } catch (const std::exception& error) {
            throw EHistoryFile(fileName + ":" + std::to_string(number) + ": " +
                               ErrorMessage(error));
        }
    });
    if (order == HistoryOrder::NewestLast)
        std::reverse(history.begin(), history.end());
    if (history.empty())
        throw EHistoryFile(fileName + ": no line to send");
    return history;
}

std::vector<HistoryLine> ReadHistory(const std::string& fileName, HistoryOrder order) {
    std::string content;
    try {
        content = ReadListFile(fileName, kMaxHistoryBytes, kHistoryStreamIdle, "a history may hold");
    } catch (const EFOpenError& error) {
        throw EHistoryFile(error.what());
    }
    return ParseHistory(content, fileName, order);
}

}  // namespace tarvik::runner
