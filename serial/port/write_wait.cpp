#include "serial/port/write_wait.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <thread>

namespace cport {

std::uint32_t ServeEventsUntilSet(device::ComDevice& device, device::ComHandle event, int* error) {
    *error = 0;
    const auto wait = [&device, event, error](std::uint32_t timeoutMs) {
        const std::uint32_t result = device.WaitForSingleObject(event, timeoutMs);
        if (result == device::WAIT_FAILED)
            *error = device.GetLastError();
        return result;
    };
    // A look without waiting also moves the device on: a write the kernel
    // takes at once (the usual case) starts no thread.
    const std::uint32_t first = wait(0);
    if (first != device::WAIT_TIMEOUT)
        return first;
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || QThread::currentThread() != app->thread())
        return wait(device::INFINITE);
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(app->thread());
    std::atomic<bool> done{false};
    std::uint32_t result = device::WAIT_FAILED;
    std::thread waiter([&] {
        result = wait(device::INFINITE);
        done.store(true, std::memory_order_release);
        if (dispatcher != nullptr)
            dispatcher->wakeUp();
    });
    // processEvents rather than a nested exec: an application that was told
    // to quit ends every exec at once, and the transfer must still be waited for.
    while (!done.load(std::memory_order_acquire))
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    waiter.join();
    return result;
}

}  // namespace cport
