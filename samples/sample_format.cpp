#include "samples/sample_format.h"

namespace samples {

std::optional<SampleFormat> ParseSampleFormat(std::string_view text) {
    if (text == "csv") return SampleFormat::kCsv;
    if (text == "labels") return SampleFormat::kLabels;
    return std::nullopt;
}

const char* SampleFormatName(SampleFormat format) {
    return format == SampleFormat::kLabels ? "labels" : "csv";
}

}  // namespace samples
