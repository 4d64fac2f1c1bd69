#pragma once
// How a received message is read as numbers: the --plot-format switch's values.
// Pure functions; any thread.

#include <optional>
#include <string_view>

namespace samples {

enum class SampleFormat {
    kCsv,     // numbers separated by commas, tabs or spaces; an optional header line names them
    kLabels,  // label:value pairs separated by commas, tabs or spaces
};

// "csv" or "labels" (as a switch gives it); empty for anything else.
std::optional<SampleFormat> ParseSampleFormat(std::string_view text);

// "csv" or "labels".
const char* SampleFormatName(SampleFormat format);

}  // namespace samples
