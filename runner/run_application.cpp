#include "runner/run_application.h"

#include <cstdio>
#include <exception>

namespace tarvik::runner {

bool RunApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QCoreApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        if (onError_)
            onError_(error.what());
        else
            std::fprintf(stderr, "tarvik2-run: %s\n", error.what());
        return true;
    }
}

}  // namespace tarvik::runner
