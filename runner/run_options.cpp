#include "runner/run_options.h"

#include <QCommandLineParser>
#include <QFile>

#include "codec/check_value.h"
#include "serial/port/com_conversions.h"

namespace tarvik::runner {

namespace {

QCommandLineOption Valued(const char* name, const char* description, const char* valueName) {
    return QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(description),
                              QString::fromLatin1(valueName));
}

[[noreturn]] void Refuse(const char* option, const QString& value) {
    throw ERunOptions(std::string("--") + option + " cannot take '" + value.toStdString() + "'");
}

// A setting's text as the port's conversion knows it (any case); a text it
// does not know is refused instead of quietly becoming the default.
template <typename T>
T Setting(const char* option, const QString& value, T (*fromText)(std::string_view),
          Text (*toText)(T)) {
    const T setting = fromText(value.toStdString());
    if (QString::fromStdString(toText(setting)).compare(value, Qt::CaseInsensitive) != 0)
        Refuse(option, value);
    return setting;
}

int Positive(const char* option, const QString& value, int least) {
    bool ok = false;
    const int number = value.toInt(&ok);
    if (!ok || number < least)
        Refuse(option, value);
    return number;
}

}  // namespace

void DescribeRunOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(QStringLiteral(
        "Tarvik 2's runner: sends a saved send history or runs a Lua script on a serial port, "
        "writes a transcript, and ends with 0 (all passed), 1 (some failed) or 2 (could not "
        "run)."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(
        Valued("history", "Send the lines of FILE, saved by \"Save text...\" (at most 64 MiB).",
               "file"));
    parser.addOption(Valued("script", "Run the Lua 5.4 script FILE (at most 8 MiB).", "file"));
    parser.addOption(Valued("sequences",
                            "The sequence set FILE (docs/sequences.md): its send sequences for "
                            "send_sequence(), its receive rules answering during the run.",
                            "file"));
    parser.addOption(QCommandLineOption(
        QStringLiteral("answer"),
        QStringLiteral("Answer the line by the rules of --sequences alone, until Ctrl+C or "
                       "--for, and print each rule's figures; with --samples and no "
                       "--sequences, only listen.")));
    parser.addOption(Valued("for", "With --answer: stop after SECONDS.", "seconds"));
    parser.addOption(Valued("order",
                            "The order of the history's lines: newest-last (the order they were "
                            "sent in, the default) or file.",
                            "order"));
    parser.addOption(Valued("repeat", "Send the history N times (default 1).", "N"));
    parser.addOption(Valued("delay", "Milliseconds between history lines (default 300).", "ms"));
    parser.addOption(Valued(
        "timeout", "An expect's time limit when the script gives none (default 1000).", "ms"));
    parser.addOption(QCommandLineOption(QStringLiteral("hex"),
                                        QStringLiteral("Show every byte as 0xHH in the transcript "
                                                       "(the window's ASC&II box unticked).")));
    parser.addOption(QCommandLineOption(
        QStringLiteral("reconnect"),
        QStringLiteral("When the port goes away, open it again when it comes back and go on "
                       "(without this, a port that goes away ends the run with status 2).")));
    parser.addOption(Valued("timestamps",
                            "The time in front of each transcript line: time (of day, "
                            "hh:mm:ss.mmm, the default), previous (seconds since the previous "
                            "line) or start (seconds since the run began).",
                            "mode"));
    parser.addOption(Valued("messages",
                            "One transcript line per message, as the window's switch: arrival "
                            "(each read, the default), gap (until the line is quiet for 3.5 "
                            "character times), gap:MS (quiet for MS milliseconds) or end:BYTE "
                            "(up to and including BYTE: CR, LF, or a number such as 0x03).",
                            "rule"));
    parser.addOption(Valued("check",
                            "Each received line ends with \"ok\" when its last bytes are this "
                            "check value over the bytes before them, else \"bad\" and the value "
                            "expected (SUM, BCC, LRC, \"NMEA 0183\", CRC-16/MODBUS, ...); with "
                            "--messages, the check value also mends the cuts where timing cannot "
                            "tell.",
                            "name"));
    parser.addOption(Valued("junit", "Write a JUnit XML report to FILE.", "file"));
    parser.addOption(Valued("capture",
                            "Capture the whole session into FILE: every byte received and sent "
                            "with its time, and the line events (docs/capture-format.md).",
                            "file"));
    parser.addOption(Valued("capture-raw",
                            "Capture the received bytes alone into FILE, nothing added.", "file"));
    parser.addOption(Valued("samples",
                            "Write every received line's numbers to FILE as CSV: the arrival "
                            "time, then one column per channel (docs/plotting.md).",
                            "file"));
    parser.addOption(Valued("plot-format",
                            "How --samples reads a line: csv (numbers separated by commas, tabs "
                            "or spaces, the default) or labels (label:value pairs).",
                            "format"));
    parser.addOption(Valued("baud",
                            "The baud rate (default 19200); a rate the list does not have is used "
                            "as a custom rate.",
                            "rate"));
    parser.addOption(
        Valued("parity", "Parity: None, Odd, Even (the default), Mark or Space.", "parity"));
    parser.addOption(Valued("data-bits", "Data bits: 5, 6, 7 or 8 (the default).", "bits"));
    parser.addOption(Valued("stop-bits", "Stop bits: 1 (the default), 1.5 or 2.", "bits"));
    parser.addOption(Valued(
        "flow-control", "Flow control: Hardware, Software, None (the default) or Custom.", "kind"));
    parser.addPositionalArgument(
        QStringLiteral("port"),
        QStringLiteral("The port: a name such as ttyUSB0, a path such as /dev/pts/3, or a "
                       "port on the network, rfc2217://HOST:PORT or socket://HOST:PORT. A "
                       "script may open its own instead."),
        QStringLiteral("[port]"));
}

RunOptions ParseRunOptions(const QStringList& arguments) {
    QCommandLineParser parser;
    DescribeRunOptions(parser);
    if (!parser.parse(arguments))
        throw ERunOptions(parser.errorText().toStdString());
    RunOptions options;
    const QStringList ports = parser.positionalArguments();
    if (ports.size() > 1)
        throw ERunOptions("Only one port can be given, not " + std::to_string(ports.size()));
    if (!ports.isEmpty()) {
        if (ports.front().isEmpty())
            throw ERunOptions("The port name is empty");
        options.port = QFile::encodeName(ports.front()).toStdString();
    }
    const auto value = [&parser](const char* name) {
        return parser.value(QString::fromLatin1(name));
    };
    const auto isSet = [&parser](const char* name) {
        return parser.isSet(QString::fromLatin1(name));
    };
    options.historyFile = QFile::encodeName(value("history")).toStdString();
    options.scriptFile = QFile::encodeName(value("script")).toStdString();
    options.sequencesFile = QFile::encodeName(value("sequences")).toStdString();
    if (isSet("sequences") && options.sequencesFile.empty())
        throw ERunOptions("The file name of --sequences is empty");
    options.answer = isSet("answer");
    if (options.answer) {
        if (!options.historyFile.empty() || !options.scriptFile.empty())
            throw ERunOptions("--answer runs neither a history nor a script");
        // With --samples alone it only listens: an empty set answers nothing.
        if ((options.sequencesFile.empty() && !isSet("samples")) || options.port.empty())
            throw ERunOptions("--answer needs --sequences FILE (or --samples FILE) and a port");
    } else if (options.historyFile.empty() == options.scriptFile.empty()) {
        throw ERunOptions("Give either --history FILE or --script FILE");
    }
    if (isSet("for")) {
        bool ok = false;
        options.forSeconds = value("for").toDouble(&ok);
        if (!options.answer)
            throw ERunOptions("--for goes with --answer");
        if (!ok || !(options.forSeconds > 0) || options.forSeconds > 1e7)
            Refuse("for", value("for"));
    }
    if (options.historyFile.size() > 0 && options.port.empty())
        throw ERunOptions("A history needs a port");
    if (isSet("order")) {
        if (value("order") == QLatin1String("newest-last"))
            options.order = HistoryOrder::NewestLast;
        else if (value("order") == QLatin1String("file"))
            options.order = HistoryOrder::FileOrder;
        else
            Refuse("order", value("order"));
    }
    if (isSet("repeat"))
        options.repeat = Positive("repeat", value("repeat"), 1);
    if (isSet("delay"))
        options.delayMs = Positive("delay", value("delay"), 0);
    if (isSet("timeout"))
        options.timeoutMs = Positive("timeout", value("timeout"), 0);
    options.ascii = !isSet("hex");
    options.reconnect = isSet("reconnect");
    if (isSet("timestamps")) {
        const QString mode = value("timestamps");
        if (mode == QLatin1String("time"))
            options.timestamps = timeline::TimestampMode::TimeOfDay;
        else if (mode == QLatin1String("previous"))
            options.timestamps = timeline::TimestampMode::SincePrevious;
        else if (mode == QLatin1String("start"))
            options.timestamps = timeline::TimestampMode::SinceStart;
        else
            Refuse("timestamps", mode);
    }
    if (isSet("messages")) {
        const auto rule = timeline::ParseMessageRule(value("messages").toStdString());
        if (!rule)
            Refuse("messages", value("messages"));
        options.messages = *rule;
    }
    if (isSet("check")) {
        options.check = fun::FindCheckValue(value("check").toStdString());
        if (options.check == nullptr)
            Refuse("check", value("check"));
    }
    options.junitFile = QFile::encodeName(value("junit")).toStdString();
    const auto captureFile = [&parser](const char* option) -> std::string {
        const QStringList values = parser.values(QString::fromLatin1(option));
        if (values.isEmpty())
            return {};
        if (values.size() > 1)
            throw ERunOptions(std::string("--") + option + " can be given once");
        if (values.front().isEmpty())
            throw ERunOptions(std::string("The file name of --") + option + " is empty");
        return QFile::encodeName(values.front()).toStdString();
    };
    options.captureFile = captureFile("capture");
    options.captureRawFile = captureFile("capture-raw");
    options.samplesFile = captureFile("samples");
    // Two writers into one file would interleave into something neither form is.
    if (!options.captureFile.empty() && options.captureFile == options.captureRawFile)
        throw ERunOptions("--capture and --capture-raw name the same file");
    for (const std::string* other : {&options.captureFile, &options.captureRawFile}) {
        if (!options.samplesFile.empty() && options.samplesFile == *other)
            throw ERunOptions("--samples names the file of a capture");
    }
    if (isSet("plot-format")) {
        const auto format = samples::ParseSampleFormat(value("plot-format").toStdString());
        if (!format)
            Refuse("plot-format", value("plot-format"));
        if (options.samplesFile.empty())
            throw ERunOptions("--plot-format goes with --samples");
        options.sampleFormat = *format;
    }

    PortSettings& settings = options.settings;
    if (isSet("baud")) {
        const std::int32_t rate = Positive("baud", value("baud"), 1);
        const cport::TBaudRate listed = cport::TextToBaudRate(value("baud").toStdString());
        if (cport::BaudRateToText(listed) == value("baud").toStdString()) {
            settings.baudRate = listed;
        } else {
            settings.baudRate = cport::brCustom;
            settings.customBaudRate = rate;
        }
    }
    if (isSet("parity"))
        settings.parity =
            Setting("parity", value("parity"), &cport::TextToParity, &cport::ParityToText);
    if (isSet("data-bits"))
        settings.dataBits = Setting("data-bits", value("data-bits"), &cport::TextToDataBits,
                                    &cport::DataBitsToText);
    if (isSet("stop-bits"))
        settings.stopBits = Setting("stop-bits", value("stop-bits"), &cport::TextToStopBits,
                                    &cport::StopBitsToText);
    if (isSet("flow-control"))
        settings.flowControl = Setting("flow-control", value("flow-control"),
                                       &cport::TextToFlowControl, &cport::FlowControlToText);
    return options;
}

}  // namespace tarvik::runner
