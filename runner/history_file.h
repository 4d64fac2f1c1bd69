#pragma once
// The history file a run sends: a list file the window saved (base/list_file.h),
// each line in the command line's notation, encoded before anything is sent.
// No Qt; main thread (encoding goes through the codec's module state).

#include <chrono>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik::runner {

// The window inserts each line it sends at the top: its file holds the newest first.
enum class HistoryOrder { NewestLast, FileOrder };

// A history that cannot be sent: "file: reason" or "file:line: reason".
class EHistoryFile : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct HistoryLine {
    std::string text;   // as the file holds it
    std::string bytes;  // what it sends
};

// What a history file may hold; a larger one is refused before it is read.
inline constexpr std::size_t kMaxHistoryBytes = 64u << 20;
// How long a stream (a FIFO, `<(...)`) may give nothing before it is refused.
inline constexpr std::chrono::milliseconds kHistoryStreamIdle{800};

// The lines of `content` (the list file's form) in sending order. Blank lines
// send nothing and are left out. Throws EHistoryFile naming `fileName` and
// the line of the first one in bad notation, or when no line sends anything.
std::vector<HistoryLine> ParseHistory(std::string_view content, const std::string& fileName,
                                      HistoryOrder order);

// Reads and parses the file within kMaxHistoryBytes. Throws EHistoryFile.
std::vector<HistoryLine> ReadHistory(const std::string& fileName, HistoryOrder order);

}  // namespace tarvik::runner
