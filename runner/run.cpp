#include "runner/run.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/qt_translator.h"
#include "base/stop_signals.h"
#include "base/terminal_text.h"
#include "base/text.h"
#include "base/translation.h"
#include "capture/capture_writer.h"
#include "codec/check_value.h"
#include "runner/history_file.h"
#include "runner/answering.h"
#include "runner/line_session.h"
#include "runner/lua_script.h"
#include "runner/results.h"
#include "runner/run_application.h"
#include "runner/run_options.h"
#include "runner/run_steps.h"
#include "runner/sample_recorder.h"
#include "runner/transcript.h"
#include "sequences/sequence_file.h"
#include "serial/error/com_error.h"

namespace tarvik::runner {

namespace {

constexpr const char* kName = "tarvik2-run";

// The catalogs sit beside the executable, as the window's do.
std::string LocaleDir() {
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string("locale") : (exe.parent_path() / "locale").string();
}

// A line on standard error. What it quotes may come from a file or the line,
// so it reaches the terminal escaped.
void Tell(const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", kName, ForTerminal(text).c_str());
}

int CouldNotRun(const std::string& reason) {
    Tell(reason);
    return kCouldNotRun;
}

}  // namespace

int RunMain(int argc, char** argv) {
    // Before any thread exists, so that every thread inherits the mask and
    // the signals reach only the signalfd.
    StopSignals::Block();
    InitTranslation(LocaleDir());
    cport::InitComPortMessages();

    RunApplication app(argc, argv);
    QCoreApplication::setApplicationName(QString::fromLatin1(kName));
    QCoreApplication::setApplicationVersion(QStringLiteral("2.0"));
    GettextTranslator translator;
    QCoreApplication::installTranslator(&translator);

    for (int i = 1; i < argc; ++i) {
        for (const char* option : {"-h", "--help", "--help-all", "-v", "--version"}) {
            if (std::strcmp(argv[i], option) == 0) {
                QCommandLineParser parser;
                DescribeRunOptions(parser);
                parser.process(app);  // prints and exits
            }
        }
    }

    RunOptions options;
    std::vector<HistoryLine> history;
    std::unique_ptr<LuaScript> script;
    sequences::SequenceSet set;
    try {
        options = ParseRunOptions(QCoreApplication::arguments());
    } catch (const ERunOptions& error) {
        Tell(error.what());
        std::fprintf(stderr, "Try '%s --help'.\n", kName);
        return kCouldNotRun;
    }
    try {
        // A bad set stops the run before anything is sent, as a bad script does.
        if (!options.sequencesFile.empty())
            set = sequences::LoadSequenceSet(options.sequencesFile);
        if (!options.historyFile.empty())
            history = ReadHistory(options.historyFile, options.order);
        else if (!options.scriptFile.empty())
            script = std::make_unique<LuaScript>(options.scriptFile);
    } catch (const std::exception& error) {
        return CouldNotRun(ErrorMessage(error));
    }

    // Opened before the port, so that a file that cannot be written stops
    // the run before anything is sent; declared before the session, so that
    // the port's "closed" is in them and everything queued is written before
    // the program ends, after a stop signal or a lost port as well.
    std::vector<std::unique_ptr<capture::CaptureWriter>> captures;
    try {
        // A capture that stops (a full disk, ...) says so once; the run goes on.
        const auto onStopped = [](const capture::CaptureStop& stop) {
            Tell(stop.Message());
        };
        if (!options.captureFile.empty())
            captures.push_back(std::make_unique<capture::CaptureWriter>(
                options.captureFile, capture::CaptureForm::kTimed, onStopped));
        if (!options.captureRawFile.empty())
            captures.push_back(std::make_unique<capture::CaptureWriter>(
                options.captureRawFile, capture::CaptureForm::kRaw, onStopped));
    } catch (const std::exception& error) {
        return CouldNotRun(ErrorMessage(error));
    }
    // As the captures: refused before the port opens, finished after it closed.
    std::unique_ptr<SampleRecorder> samples;
    try {
        if (!options.samplesFile.empty())
            samples = std::make_unique<SampleRecorder>(options.samplesFile, options.sampleFormat);
    } catch (const std::exception& error) {
        return CouldNotRun(ErrorMessage(error));
    }

    Transcript transcript(stdout, options.ascii, options.timestamps);
    Results results;
    LineSession session(options.settings, options.reconnect, transcript,
                        {options.messages, options.check});
    for (const auto& capture : captures) session.AddCapture(capture.get());
    session.SetSamples(samples.get());
    RunSteps steps(session, results);
    Answering answering(session, std::move(set));
    StopSignals stops([&session](int signal) { session.Stop(signal); });
    app.SetOnError([&session](const std::string& reason) { session.Abort(reason); });
    const Stamp start = NowStamp();
    std::string failure;
    try {
        if (script) {
            if (!options.port.empty())
                session.Open(options.port);
            script->Run(steps, answering, options.port, options.timeoutMs);
        } else if (options.answer) {
            session.Open(options.port);
            const std::int64_t deadline =
                options.forSeconds > 0
                    ? NowStamp().monoUs + static_cast<std::int64_t>(options.forSeconds * 1e6)
                    : INT64_MAX;
            session.WaitUntil([] { return false; }, deadline);
        } else {
            session.Open(options.port);
            for (int round = 0; round < options.repeat; ++round) {
                for (const HistoryLine& line : history)
                    steps.HistoryLine(line.text, line.bytes, options.delayMs);
            }
        }
    } catch (const ERunStopped&) {
        // Answering ends with Ctrl+C as its normal way out.
        if (!options.answer)
            results.Stopped(session.StoppedBy());
    } catch (const std::exception& error) {
        results.Aborted(ErrorMessage(error));
        failure = ErrorMessage(error);
    }
    app.SetOnError({});
    session.Close();
    if (samples)
        samples->Finish();
    results.SetRules(answering.Figures());
    for (const std::string& line : results.Summary()) transcript.Write("# " + line);
    if (!options.junitFile.empty()) {
        try {
            const std::string source = !options.scriptFile.empty()    ? options.scriptFile
                                       : !options.historyFile.empty() ? options.historyFile
                                                                      : options.sequencesFile;
            results.WriteJUnit(options.junitFile, std::string(kName) + " " + source,
                               double(NowStamp().monoUs - start.monoUs) / 1e6);
        } catch (const std::exception& error) {
            return CouldNotRun(ErrorMessage(error));
        }
    }
    if (!failure.empty())
        return CouldNotRun(failure);
    if (results.ExitStatus() > kCouldNotRun)
        std::fprintf(stderr, "%s: stopped by signal %d\n", kName, session.StoppedBy());
    return results.ExitStatus();
}

}  // namespace tarvik::runner
