#include "app/desktop_programs.h"

#include <QProcess>
#include <QStandardPaths>
#include <array>

#include "base/stop_signals.h"

namespace tarvik {

namespace {

constexpr std::array kCalculatorNames{"gnome-calculator", "kcalc",     "galculator",
                                      "qalculate-gtk",    "mate-calc", "xcalc"};
// X editors that need no terminal close the list, the X tools' xedit last.
constexpr std::array kTextEditorNames{
    "gnome-text-editor", "gedit",   "kate",    "kwrite", "mousepad", "pluma", "xed",
    "featherpad",        "leafpad", "l3afpad", "geany",  "gvim",     "nedit", "xedit"};

}  // namespace

const std::span<const char* const> kCalculators{kCalculatorNames};
const std::span<const char* const> kTextEditors{kTextEditorNames};

bool StartFirstFound(std::span<const char* const> programs) {
    for (const char* name : programs) {
        const QString path = QStandardPaths::findExecutable(QString::fromLatin1(name));
        if (path.isEmpty())
            continue;
        QProcess program;
        program.setProgram(path);
        // The window blocks its stop signals for its signalfd; the program
        // it starts must get them as usual.
        program.setChildProcessModifier([] { StopSignals::Unblock(); });
        return program.startDetached();
    }
    return false;
}

}  // namespace tarvik
