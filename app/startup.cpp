#include "app/startup.h"

#include <cxxabi.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <typeinfo>
#include <utility>

#include "app/application.h"
#include "app/command_line.h"
#include "app/display_check.h"
#include "app/executable_dir.h"
#include "app/frmmain.h"
#include "app/plot_arguments.h"
#include "app/qt_file_dialog.h"
#include "app/qt_message_box.h"
#include "app/startup_probe.h"
#include "base/message_box.h"
#include "base/qt_translator.h"
#include "base/stop_signals.h"
#include "base/terminal_text.h"
#include "base/translation.h"
#include "serial/error/com_error.h"

namespace tarvik {

namespace {

bool AsksForInformation(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        for (const char* option : {"-h", "--help", "--help-all", "-v", "--version"}) {
            if (std::strcmp(argv[i], option) == 0)
                return true;
        }
    }
    return false;
}

// --help and --version answer on the terminal without needing a display.
// QCommandLineParser's texts are Qt's own and pass through the catalogs.
[[noreturn]] void AnswerInformation(int argc, char** argv) {
    QCoreApplication core(argc, argv);
    core.setApplicationName(QStringLiteral("tarvik2"));
    core.setApplicationVersion(QStringLiteral("2.0"));
    GettextTranslator translator;
    QCoreApplication::installTranslator(&translator);
    QCommandLineParser parser;
    DescribeCommandLine(parser);
    parser.process(core);  // prints and exits
    std::exit(0);
}

std::string ClassName(const std::exception& error) {
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> name(
        abi::__cxa_demangle(typeid(error).name(), nullptr, nullptr, &status), &std::free);
    return status == 0 && name ? name.get() : typeid(error).name();
}

}  // namespace

int RunTarvik(int argc, char** argv, MessageBoxFunction showBox,
              std::function<void(Tfrmmain&)> onShown) {
    // Before any thread exists (Qt's own included), so that every thread
    // inherits the mask and the stop signals reach only the signalfd.
    StopSignals::Block();
    InitTranslation(ExecutableDir() + "/locale");

    // The port component's messages: "cport" joins the resource domains and
    // its error table is translated, before anything can raise one of them.
    cport::InitComPortMessages();

    if (AsksForInformation(argc, argv))
        AnswerInformation(argc, argv);

    KeepDisplayFormFromQt(argc, argv);
    auto displayCheck = std::make_unique<DisplayCheck>();
    TApplication app(argc, argv);
    displayCheck.reset();
    GettextTranslator translator;
    QCoreApplication::installTranslator(&translator);
    if (showBox) {
        SetMessageBoxFunction(std::move(showBox));
    } else {
        InstallQtMessageBox();
    }
    InstallQtFileDialog();

    Text port;
    TLineOptions options;
    CaptureFiles captures;
    Text sequencesFile;
    PlotArguments plot;
    try {
        port = PortArgument(QCoreApplication::arguments());
        options = LineOptionsArgument(QCoreApplication::arguments());
        captures = CaptureArguments(QCoreApplication::arguments());
        sequencesFile = SequencesArgument(QCoreApplication::arguments());
        plot = PlotArgument(QCoreApplication::arguments());
    } catch (const ECommandLine& error) {
        std::fprintf(stderr, "tarvik2: %s\nTry 'tarvik2 --help'.\n", error.what());
        return 2;
    }

    std::unique_ptr<Tfrmmain> window;
    try {
        window = std::make_unique<Tfrmmain>(nullptr, port, options);
    } catch (const std::exception& error) {
        // The window could not be built: there is no message loop to show the
        // error yet, so it is shown here and the program ends. A terminal
        // that started the program gets the text as well.
        const std::string text = "Exception " + ClassName(error) + ": " + error.what();
        std::fprintf(stderr, "tarvik2: Application Error: %s\n", text.c_str());
        ShowMessageBox({.text = text,
                        .caption = "Application Error",
                        .icon = MessageIcon::Error,
                        .hasOwner = false});
        return 1;
    }
    try {
        // Shown first: a capture into the same file empties it.
        // A bad set ends the start as a bad switch does: file, line, reason.
        if (!sequencesFile.empty())
            window->LoadSequences(sequencesFile);
        if (!captures.shown.empty())
            window->ShowCapture(captures.shown);
        if (!captures.timed.empty())
            window->StartCapture(captures.timed, capture::CaptureForm::kTimed);
        if (!captures.raw.empty())
            window->StartCapture(captures.raw, capture::CaptureForm::kRaw);
    } catch (const std::exception& error) {
        // The file's own text may be quoted: escaped for the terminal.
        std::fprintf(stderr, "tarvik2: %s\n", ForTerminal(ErrorMessage(error)).c_str());
        return 2;
    }
    // Told to end: the window closes (which ends a Send that waits on the
    // line) and every event loop ends; the window's destruction below then
    // closes the port, which removes its lock file, and finishes the captures.
    StopSignals stops([&window](int) {
        window->close();
        QCoreApplication::exit();
    });
    window->SetPlotFormat(plot.format);
    window->show();
    WatchFirstShow(window.get());
    if (plot.open) {
        window->OpenPlot(plot.format, true);
        try {
            if (!captures.shown.empty())
                window->PlotCapture(captures.shown);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "tarvik2: %s\n", ForTerminal(ErrorMessage(error)).c_str());
            return 2;
        }
    }
    if (onShown)
        onShown(*window);
    const int status = app.exec();
    window.reset();
    return stops.Received() != 0 ? 128 + stops.Received() : status;
}

}  // namespace tarvik
