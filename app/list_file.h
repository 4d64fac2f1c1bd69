#pragma once
// The text files of the logs and the send history: one list line per text
// line, 8-bit text. Saving ends every line with CR LF; loading accepts CR LF,
// a lone CR or a lone LF and stops at the first NUL byte.

#include <ctime>
#include <stdexcept>
#include <string>
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

// Reads the lines of a file. Throws EFOpenError when it cannot be read.
std::vector<Text> LoadListFile(const std::string& fileName);

// Writes the lines to a file, replacing it. The lines go to a temporary file
// beside it that is renamed over the old one only when complete, so a failed
// save leaves the old file as it was. Throws EFCreateError.
void SaveListFile(const std::string& fileName, const std::vector<Text>& lines);

// The lines a file's content holds (the format above), for tests and loaders alike.
std::vector<Text> SplitListText(std::string_view content);

// The name proposed for saving a list: "<component>_ddmmyy_hhnnss.txt".
std::string ProposedListFileName(const std::string& componentName, const std::tm& localTime);

}  // namespace tarvik
