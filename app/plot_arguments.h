#pragma once
// The plot's switches: --plot opens the plot window at start, --plot-format
// csv|labels says how it reads lines (also when opened later by its button).
// Main thread.

#include <QStringList>
#include <optional>

#include "samples/sample_format.h"

class QCommandLineParser;

namespace tarvik {

void DescribePlotOptions(QCommandLineParser& parser);

struct PlotArguments {
    bool open = false;  // --plot
    samples::SampleFormat format = samples::SampleFormat::kCsv;
};

// Raises ECommandLine for an unknown option or a format it cannot take.
PlotArguments PlotArgument(const QStringList& arguments);

}  // namespace tarvik
