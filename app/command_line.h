#pragma once
// The program's command line: --help, --version, the switches of the line
// page's options, the captures (--capture FILE, --capture-raw FILE,
// --open-capture FILE; all off by default), and at most one port, a name
// ("ttyUSB0") or a path ("/dev/pts/3"), which the window lists and chooses
// at start. Main thread.

#include <QStringList>
#include <optional>
#include <stdexcept>

#include "app/line_options.h"
#include "base/text.h"
#include "transfer/engine.h"

class QCommandLineParser;

namespace tarvik {

// A command line the program cannot follow; the message says why (UTF-8).
class ECommandLine : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Qt's X11 platform takes "--display NAME" as the X display before the
// program sees it; "--display ascii|hex|text" is renamed "--display-form"
// in `argv` first, which the program takes alike. Before the application
// object is made.
void KeepDisplayFormFromQt(int argc, char** argv);

// Gives the parser the program's description, options and arguments.
void DescribeCommandLine(QCommandLineParser& parser);

// The port of the arguments (QCoreApplication::arguments(), the program name
// first) as the file system's bytes; "" when none is given. Raises
// ECommandLine for an unknown option or more than one port.
Text PortArgument(const QStringList& arguments);

// The files the session is captured into, as the file system's bytes; ""
// for a capture not asked for. Raises ECommandLine as PortArgument does,
// for a file name given empty, and for both naming the same file.
struct CaptureFiles {
    Text timed;  // --capture: every byte both ways, times and line events
    Text raw;    // --capture-raw: the received bytes alone
    Text shown;  // --open-capture: a timed capture shown in the receive log at start
};
CaptureFiles CaptureArguments(const QStringList& arguments);

// The sequence set to load at start (--sequences FILE) as the file
// system's bytes; "" for none. Raises ECommandLine as PortArgument does,
// and for a file name given empty or twice.
Text SequencesArgument(const QStringList& arguments);

// The file sent once the port has opened (--send-file FILE, --send-mode
// text|raw|xmodem|xmodem1k|ymodem; text when no mode is given), with the
// dialog's default options; nothing without --send-file. Raises ECommandLine
// as PortArgument does, for an unknown mode, a mode without a file, and
// either given empty or twice.
std::optional<transfer::Job> TransferArgument(const QStringList& arguments);

// The line page's options the arguments ask for; the defaults for every
// switch not given. Raises ECommandLine for an unknown option or a value a
// switch cannot take.
TLineOptions LineOptionsArgument(const QStringList& arguments);

}  // namespace tarvik
