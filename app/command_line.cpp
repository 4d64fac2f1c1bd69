#include "app/command_line.h"

#include <QCommandLineParser>
#include <QFile>
#include <string>
#include <string_view>

#include "app/plot_arguments.h"
#include "codec/received_check.h"
#include "timeline/message_rule.h"
#include "base/int_conversion.h"
#include "serial/port/com_conversions.h"

namespace tarvik {

namespace {

QCommandLineOption Valued(const char* name, const char* description, const char* valueName) {
    return QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(description),
                              QString::fromLatin1(valueName));
}

void Parse(QCommandLineParser& parser, const QStringList& arguments) {
    DescribeCommandLine(parser);
    if (!parser.parse(arguments))
        throw ECommandLine(parser.errorText().toStdString());
}

[[noreturn]] void Refuse(const char* option, const QString& value) {
    throw ECommandLine(std::string("--") + option + " cannot take '" + value.toStdString() + "'");
}

// A setting's text as the port's conversion knows it (any case); a text it
// does not know is refused instead of quietly becoming the default.
template <typename T>
T Setting(const char* option, const QString& value, T (*fromText)(std::string_view),
          Text (*toText)(T)) {
    const std::string text = value.toStdString();
    const T setting = fromText(text);
    if (QString::fromStdString(toText(setting)).compare(value, Qt::CaseInsensitive) != 0)
        Refuse(option, value);
    return setting;
}

}  // namespace

void KeepDisplayFormFromQt(int argc, char** argv) {
    static char kDisplayForm[] = "--display-form";
    for (int i = 1; i + 1 < argc; ++i) {
        const std::string_view value = argv[i + 1];
        if (std::string_view(argv[i]) == "--display" &&
            (value == "ascii" || value == "hex" || value == "text"))
            argv[i] = kDisplayForm;
    }
}

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
        QStringLiteral("sequences"),
        QStringLiteral("Load the sequence set <file> (docs/sequences.md) onto the Sequences page: "
                       "send sequences on buttons and keys, receive rules that answer."),
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
    parser.addOption(Valued("timestamps",
                            "A time in front of each log line: off, time (of day, hh:mm:ss.mmm), "
                            "previous (seconds since the previous line) or start (seconds since "
                            "Start).",
                            "mode"));
    parser.addOption(QCommandLineOption(QStringLiteral("log-sent"),
                                        QStringLiteral("Each Send also writes a line, marked "
                                                       "\">> \", into the log shown.")));
    parser.addOption(
        Valued("messages",
               "One log line per message: arrival (each read, the default), gap (until "
               "the line is quiet for 3.5 character times), gap:MS (quiet for MS "
               "milliseconds) or end:BYTE (up to and including BYTE: CR, LF, or a "
               "number such as 0x03).",
               "rule"));
    parser.addOption(QCommandLineOption(QStringLiteral("log-events"),
                                        QStringLiteral("Line events (port opened, closed, ...) "
                                                       "as lines marked \"== \" in the log.")));
    parser.addOption(QCommandLineOption(
        QStringLiteral("reconnect"),
        QStringLiteral("When the open port's device goes away, open it again with the same "
                       "settings when it returns.")));
    parser.addOption(Valued("check",
                            "Each received line (each message with --messages) ends with \"ok\" "
                            "when its last bytes are this check value over the bytes before "
                            "them, else \"bad\" and the value expected: SUM, BCC, LRC, "
                            "\"NMEA 0183\", CRC-8/SMBUS, CRC-16/MODBUS, CRC-32 or another name "
                            "the line page lists.",
                            "name"));
    parser.addOption(Valued("data-bits", "Data bits at start: 5, 6, 7 or 8.", "bits"));
    parser.addOption(Valued("stop-bits", "Stop bits at start: 1, 1.5 or 2.", "bits"));
    parser.addOption(Valued("flow-control",
                            "Flow control at start: Hardware, Software, None or Custom.", "kind"));
    parser.addOption(Valued("parity", "Parity at start: None, Odd, Even (the default), Mark or Space.",
                            "parity"));
    parser.addOption(QCommandLineOption(
        {QStringLiteral("display"), QStringLiteral("display-form")},
        QStringLiteral("How received bytes are shown: ascii (letters and digits as "
                            "characters, the rest as 0xHH; the default), hex (every byte as 0xHH) "
                            "or text (printable ASCII as itself, \\r \\n \\t, other bytes as "
                            "\\xHH, in a fixed-pitch font)."),
        QStringLiteral("form")));
    parser.addOption(Valued("count",
                            "The timer stops after N sends (0, the default: it runs until it is "
                            "switched off).",
                            "N"));
    parser.addOption(Valued("baud",
                            "The baud rate at start; a rate the list does not have is used as a "
                            "custom rate.",
                            "rate"));
    DescribePlotOptions(parser);
    parser.addPositionalArgument(
        QStringLiteral("port"),
        QStringLiteral("The port to choose at start: a name such as ttyUSB0, a path such as "
                       "/dev/pts/3 (pseudo-terminals are not listed otherwise), or a port on the "
                       "network, rfc2217://HOST:PORT or socket://HOST:PORT."),
        QStringLiteral("[port]"));
}

Text PortArgument(const QStringList& arguments) {
    QCommandLineParser parser;
    Parse(parser, arguments);
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

Text SequencesArgument(const QStringList& arguments) {
    QCommandLineParser parser;
    Parse(parser, arguments);
    const QStringList values = parser.values(QStringLiteral("sequences"));
    if (values.isEmpty())
        return {};
    if (values.size() > 1)
        throw ECommandLine("--sequences can be given once");
    if (values.front().isEmpty())
        throw ECommandLine("The file name of --sequences is empty");
    return QFile::encodeName(values.front()).toStdString();
}

TLineOptions LineOptionsArgument(const QStringList& arguments) {
    QCommandLineParser parser;
    Parse(parser, arguments);
    TLineOptions options;
    if (parser.isSet(QStringLiteral("timestamps"))) {
        const QString mode = parser.value(QStringLiteral("timestamps"));
        using timeline::TimestampMode;
        if (mode == QLatin1String("off")) {
            options.timestamps = TimestampMode::Off;
        } else if (mode == QLatin1String("time")) {
            options.timestamps = TimestampMode::TimeOfDay;
        } else if (mode == QLatin1String("previous")) {
            options.timestamps = TimestampMode::SincePrevious;
        } else if (mode == QLatin1String("start")) {
            options.timestamps = TimestampMode::SinceStart;
        } else {
            Refuse("timestamps", mode);
        }
    }
    options.logSent = parser.isSet(QStringLiteral("log-sent"));
    options.logEvents = parser.isSet(QStringLiteral("log-events"));
    options.reconnect = parser.isSet(QStringLiteral("reconnect"));
    if (parser.isSet(QStringLiteral("messages"))) {
        const QString rule = parser.value(QStringLiteral("messages"));
        const auto choice = timeline::ParseMessageRule(rule.toStdString());
        if (!choice)
            Refuse("messages", rule);
        options.messages = static_cast<TMessageRule>(choice->kind);
        if (choice->kind == timeline::MessageRuleKind::GapMs)
            options.gapMs = choice->gapMs;
        if (choice->kind == timeline::MessageRuleKind::EndByte)
            options.endByte = choice->endByte;
    }
    if (parser.isSet(QStringLiteral("check"))) {
        const QString name = parser.value(QStringLiteral("check"));
        options.check = fun::FindCheckValue(name.toStdString());
        if (options.check == nullptr)
            Refuse("check", name);
    }
    if (parser.isSet(QStringLiteral("data-bits")))
        options.dataBits = Setting("data-bits", parser.value(QStringLiteral("data-bits")),
                                   &cport::TextToDataBits, &cport::DataBitsToText);
    if (parser.isSet(QStringLiteral("stop-bits")))
        options.stopBits = Setting("stop-bits", parser.value(QStringLiteral("stop-bits")),
                                   &cport::TextToStopBits, &cport::StopBitsToText);
    if (parser.isSet(QStringLiteral("flow-control")))
        options.flowControl = Setting("flow-control", parser.value(QStringLiteral("flow-control")),
                                      &cport::TextToFlowControl, &cport::FlowControlToText);
    if (parser.isSet(QStringLiteral("parity")))
        options.parity = Setting("parity", parser.value(QStringLiteral("parity")),
                                 &cport::TextToParity, &cport::ParityToText);
    if (parser.isSet(QStringLiteral("display"))) {
        const QString form = parser.value(QStringLiteral("display"));
        if (form == QLatin1String("text"))
            options.display = TDisplayForm::TextForm;
        else if (form == QLatin1String("hex"))
            options.asciiUnticked = true;
        else if (form != QLatin1String("ascii"))
            Refuse("display", form);
    }
    if (parser.isSet(QStringLiteral("count"))) {
        const QString count = parser.value(QStringLiteral("count"));
        bool ok = false;
        options.sendCount = count.toInt(&ok);
        if (!ok || options.sendCount < 0)
            Refuse("count", count);
    }
    if (parser.isSet(QStringLiteral("baud"))) {
        const QString rate = parser.value(QStringLiteral("baud"));
        bool ok = false;
        options.baudRate = rate.toInt(&ok);
        if (!ok || *options.baudRate <= 0)
            Refuse("baud", rate);
    }
    return options;
}

}  // namespace tarvik
