#include "serial/write_wait.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <thread>

namespace cport {

void ServeEventsUntilSet(device::ComDevice& device, device::ComHandle event) {
    QCoreApplication* app = QCoreApplication::instance();
    // A look without waiting also moves the device on: a write the kernel
    // takes at once (the usual case) starts no thread.
    if (device.WaitForSingleObject(event, 0) == device::WAIT_OBJECT_0)
        return;
    if (app == nullptr || QThread::currentThread() != app->thread()) {
        device.WaitForSingleObject(event, device::INFINITE);
        return;
    }
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(app->thread());
    std::atomic<bool> done{false};
    std::thread waiter([&] {
        device.WaitForSingleObject(event, device::INFINITE);
        done.store(true, std::memory_order_release);
        if (dispatcher != nullptr)
            dispatcher->wakeUp();
    });
    // processEvents rather than a nested exec: an application that was told
    // to quit ends every exec at once, and the transfer must still be waited for.
    while (!done.load(std::memory_order_acquire))
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    waiter.join();
}

}  // namespace cport
