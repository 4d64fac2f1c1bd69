// Output lines and break of TCustomComPort.

#include <cerrno>
#include <thread>

#include "serial/error/com_error.h"
#include "serial/port/custom_com_port.h"
#include "serial/device/com_device.h"

namespace cport {

namespace {

using namespace device;

void Escape(ComDevice& device, ComHandle handle, std::uint32_t function) {
    if (!device.EscapeCommFunction(handle, function))
        throw EComPort(ecEscape, device.GetLastError());
}

std::uint32_t OutputLines(ComDevice& device, ComHandle handle) {
    std::uint32_t lines = 0;
    if (!device.GetCommOutputLines(handle, &lines))
        throw EComPort(ecModemStatus, device.GetLastError());
    return lines;
}

}  // namespace

void TCustomComPort::SetDTR(bool OnOff) {
    Escape(Device(), Handle(), OnOff ? SETDTR : CLRDTR);
}

void TCustomComPort::SetRTS(bool OnOff) {
    Escape(Device(), Handle(), OnOff ? SETRTS : CLRRTS);
}

bool TCustomComPort::DTR() {
    return (OutputLines(Device(), Handle()) & SERIAL_DTR_STATE) != 0;
}

bool TCustomComPort::RTS() {
    return (OutputLines(Device(), Handle()) & SERIAL_RTS_STATE) != 0;
}

void TCustomComPort::SendBreak(std::chrono::milliseconds Duration) {
    if (Duration.count() < 0)
        throw EComPort(ecEscape, EINVAL);
    Escape(Device(), Handle(), SETBREAK);
    // The break is the time the line stays low; nothing to wait for but the clock.
    std::this_thread::sleep_for(Duration);
    Escape(Device(), Handle(), CLRBREAK);
}

void TCustomComPort::SetBreak(bool OnOff) {
    Escape(Device(), Handle(), OnOff ? SETBREAK : CLRBREAK);
}

}  // namespace cport
