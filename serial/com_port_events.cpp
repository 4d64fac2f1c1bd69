// The report steps that frame opening and closing, and the event thread's
// life. Placeholders until event delivery lands: the steps call their
// handlers, and no thread is made.

#include "base/message_window.h"
#include "serial/com_thread.h"
#include "serial/custom_com_port.h"

namespace cport {

void TCustomComPort::ReportBeforeOpen() { NotifyBeforeOpen(); }

void TCustomComPort::ReportAfterOpen() { NotifyAfterOpen(); }

void TCustomComPort::ReportBeforeClose() { NotifyBeforeClose(); }

void TCustomComPort::ReportAfterClose() { NotifyAfterClose(); }

void TCustomComPort::CreateEventThread() {}

void TCustomComPort::DestroyEventThread() {
    eventThread_.reset();
    notifyWindow_.reset();
}

}  // namespace cport
