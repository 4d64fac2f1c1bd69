#include "app/plot_arguments.h"

#include <QCommandLineParser>
#include <string>

#include "app/command_line.h"

namespace tarvik {

void DescribePlotOptions(QCommandLineParser& parser) {
    parser.addOption(QCommandLineOption(
        QStringLiteral("plot"),
        QStringLiteral("Open the plot window at start: received lines of numbers as curves "
                       "(docs/plotting.md).")));
    parser.addOption(QCommandLineOption(
        QStringLiteral("plot-format"),
        QStringLiteral("How the plot reads a line: csv (the default; numbers separated by commas, "
                       "tabs or spaces) or labels (label:value pairs)."),
        QStringLiteral("form")));
}

PlotArguments PlotArgument(const QStringList& arguments) {
    QCommandLineParser parser;
    DescribeCommandLine(parser);
    if (!parser.parse(arguments))
        throw ECommandLine(parser.errorText().toStdString());
    PlotArguments plot;
    plot.open = parser.isSet(QStringLiteral("plot"));
    const QStringList formats = parser.values(QStringLiteral("plot-format"));
    if (formats.size() > 1)
        throw ECommandLine("--plot-format can be given once");
    if (!formats.isEmpty()) {
        const auto format = samples::ParseSampleFormat(formats.front().toStdString());
        if (!format)
            throw ECommandLine("--plot-format cannot take '" + formats.front().toStdString() +
                               "' (csv or labels)");
        plot.format = *format;
    }
    return plot;
}

}  // namespace tarvik
