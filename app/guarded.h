#pragma once
// Connects a handler of the window so that its exception is shown by the
// default error handler right where the handler returns.
//
// The application's notify catches everything that leaves an event as well,
// but Qt's widget library is built without exception support: an exception
// unwinding through its frames skips their clean-up (every error click would
// leak the event copies of QApplication::notify). Handlers connected through
// Guarded never unwind through Qt; notify stays the net for everything else.
// Main thread only.

#include <exception>

#include "app/default_error.h"

namespace tarvik {

// A slot for QObject::connect that calls (object->*handler)(args...) and shows
// any std::exception it raises with ShowDefaultError.
template <typename Object, typename... Args>
auto Guarded(Object* object, void (Object::*handler)(Args...)) {
    return [object, handler](Args... args) {
        try {
            (object->*handler)(args...);
        } catch (const std::exception& error) {
            ShowDefaultError(error);
        }
    };
}

}  // namespace tarvik
