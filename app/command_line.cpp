#include "app/command_line.h"

#include <QCommandLineParser>
#include <QFile>

namespace tarvik {

void DescribeCommandLine(QCommandLineParser& parser) {
    parser.setApplicationDescription(QStringLiteral("Tarvik 2, a serial line test terminal"));
    parser.addHelpOption();
    parser.addVersionOption();
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

}  // namespace tarvik
