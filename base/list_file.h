#pragma once
// The text files of the logs and the send history: one list line per text
// line, 8-bit text. Saving ends every line with CR LF; loading accepts CR LF,
// a lone CR or a lone LF and stops at the first NUL byte.

#include <chrono>
#include <cstddef>
#include <ctime>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"

namespace tarvik {

// "Cannot open file "<name>". <reason>"
class EFOpenError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// "Cannot create file "<name>". <reason>"
class EFCreateError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// What a list may load; a larger file is refused before it is read.
constexpr std::size_t kListFileMaxBytes = std::size_t(1) << 30;

// Reads the lines of a file, up to its first NUL byte. Never waits: a FIFO or
// a terminal gives what it holds at once. Throws EFOpenError when the file
// cannot be read, when it is a regular file larger than `maxBytes`, or when
// a stream gives more than that before its first NUL.
std::vector<Text> LoadListFile(const std::string& fileName,
                               std::size_t maxBytes = kListFileMaxBytes);

// As LoadListFile, but gives the file's text up to its first NUL as it
// stands, for ForEachListLine: a large list is then held once, not twice.
// With `streamIdle` above 0 a stream is read until it ends, each pause up
// to that long (base/bounded_file.h), for a reader that may wait.
// `what` completes the refusal "It is larger than the N MiB ...".
std::string ReadListFile(const std::string& fileName, std::size_t maxBytes = kListFileMaxBytes,
                         std::chrono::milliseconds streamIdle = std::chrono::milliseconds(0),
                         const char* what = "a list may load");

// Writes the lines to a file, replacing it. A regular file gets them through
// a temporary file beside it that is renamed over the old one only when
// complete, so a failed save leaves the old file as it was; where the folder
// takes no temporary file, a writable file is overwritten in place and its
// old content put back should that fail. Anything else (a FIFO, a device) is
// written into as it stands. Throws EFCreateError, also when the file-size
// limit is reached (the program is not ended by SIGXFSZ).
void SaveListFile(const std::string& fileName, const std::vector<Text>& lines);

// The lines a file's content holds (the format above), for tests and loaders alike.
std::vector<Text> SplitListText(std::string_view content);

// Calls `line` with the start and the length in `content` of each line it
// holds, first to last, up to the first NUL.
void ForEachListLine(std::string_view content,
                     const std::function<void(std::size_t start, std::size_t length)>& line);

// The name proposed for saving a list: "<component>_ddmmyy_hhnnss.txt".
std::string ProposedListFileName(const std::string& componentName, const std::tm& localTime);

}  // namespace tarvik
