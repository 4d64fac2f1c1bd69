#pragma once
// Waiting for a long transfer on the main thread without stalling the window:
// a helper thread waits for the completion (and so moves the device on, as
// every waiter does), while the main thread goes on serving its event loop.
// Whoever calls this must be ready for its own handlers to run meanwhile.

#include <cstdint>

#include "serial/device/com_device.h"

namespace cport {

// Returns once `event` is set (WAIT_OBJECT_0) or a wait for it failed
// (WAIT_FAILED, with the device's error number in *error). On the main
// thread of a Qt application the event loop is served while the event is not
// yet set; on any other thread, or without an application, it simply waits.
std::uint32_t ServeEventsUntilSet(device::ComDevice& device, device::ComHandle event, int* error);

}  // namespace cport
