#include "app/command_line.h"

#include <QCommandLineParser>
#include <QFile>

namespace tarvik {

void DescribeCommandLine(QCommandLineParser& parser) {
    parser.setApplicationDescription(QStringLiteral("Tarvik 2, a serial line test terminal"));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(QCommandLineOption(
        QStringLiteral("capture"),
        QStringLiteral("Capture the whole session into <file>: every byte received and sent with "
                       "its time, and the line events (docs/capture-format.md)."),
        QStringLiteral("file")));
    parser.addOption(QCommandLineOption(
        QStringLiteral("capture-raw"),
        QStringLiteral("Capture the received bytes alone into <file>, nothing added."),
        QStringLiteral("file")));
    parser.addOption(QCommandLineOption(
        QStringLiteral("open-capture"),
        QStringLiteral(
            "Show the received blocks of the capture <file> (made with --capture) in the "
            "receive log at start."),
        QStringLiteral("file")));
    parser.addPositionalArgument(
        QStringLiteral("port"),
        QStringLiteral("The port to choose at start: a name such as ttyUSB0, or a path such as "
                       "/dev/pts/3 (pseudo-terminals are not listed otherwise)."),
        QStringLiteral("[port]"));
}

Text PortArgument(const QStringList& arguments) {
    QCommandLineParser parser;
    DescribeCommandLine(parser);
    if (!parser.parse(arguments))
        throw ECommandLine(parser.errorText().toStdString());
    const QStringList ports = parser.positionalArguments();
    if (ports.size() > 1)
        throw ECommandLine("Only one port can be given, not " + std::to_string(ports.size()));
    if (ports.isEmpty())
        return {};
    if (ports.front().isEmpty())
        throw ECommandLine("The port name is empty");
    return QFile::encodeName(ports.front()).toStdString();
}

CaptureFiles CaptureArguments(const QStringList& arguments) {
    QCommandLineParser parser;
    DescribeCommandLine(parser);
    if (!parser.parse(arguments))
        throw ECommandLine(parser.errorText().toStdString());
    const auto file = [&parser](const char* option) -> Text {
        const QString name = QString::fromLatin1(option);
        if (!parser.isSet(name))
            return {};
        const QStringList values = parser.values(name);
        if (values.size() > 1)
            throw ECommandLine(std::string("--") + option + " can be given once");
        if (values.front().isEmpty())
            throw ECommandLine(std::string("The file name of --") + option + " is empty");
        return QFile::encodeName(values.front()).toStdString();
    };
    CaptureFiles files{
        .timed = file("capture"), .raw = file("capture-raw"), .shown = file("open-capture")};
    // Two writers into one file would interleave into something neither form is.
    if (!files.timed.empty() && files.timed == files.raw)
        throw ECommandLine("--capture and --capture-raw name the same file");
    return files;
}

}  // namespace tarvik
