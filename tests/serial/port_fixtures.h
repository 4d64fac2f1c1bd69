#pragma once
// Helpers shared by the port tests: catching an EComPort to look at its
// numbers, and a port whose event handlers write what ran into a list.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "serial/error/com_error.h"
#include "serial/port/com_port.h"

namespace cport::testutil {

// The EComPort that `action` raised, or nothing.
inline std::optional<EComPort> Raised(const std::function<void()>& action) {
    try {
        action();
    } catch (const EComPort& error) {
        return error;
    }
    return std::nullopt;
}

// Records "before open", "after open", "before close", "after close".
inline void RecordOpenClose(TCustomComPort& port, std::vector<std::string>& seen) {
    port.SetOnBeforeOpen([&seen](QObject*) { seen.push_back("before open"); });
    port.SetOnAfterOpen([&seen](QObject*) { seen.push_back("after open"); });
    port.SetOnBeforeClose([&seen](QObject*) { seen.push_back("before close"); });
    port.SetOnAfterClose([&seen](QObject*) { seen.push_back("after close"); });
}

}  // namespace cport::testutil
