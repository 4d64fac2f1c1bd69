#include "runner/run_application.h"

#include <cstdio>
#include <exception>

#include "base/terminal_text.h"
#include "base/text.h"

namespace tarvik::runner {

bool RunApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QCoreApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        if (onError_)
            onError_(ErrorMessage(error));
        else
            std::fprintf(stderr, "tarvik2-run: %s\n", ForTerminal(ErrorMessage(error)).c_str());
        return true;
    }
}

}  // namespace tarvik::runner
