#include "serial/port/dcb_builder.h"

#include "serial/port/com_buffer.h"
#include "serial/port/com_flow_control.h"
#include "serial/port/com_os_values.h"
#include "serial/port/com_parity.h"
#include "serial/port/com_timeouts.h"
#include "serial/port/custom_com_port.h"

namespace cport {

namespace {

std::uint32_t Flag(bool on, std::uint32_t bit) {
    return on ? bit : 0;
}

}  // namespace

device::DCB BuildDCB(const TCustomComPort& port) {
    using namespace device;
    const TComParity& parity = port.Parity();
    const TComFlowControl& flow = port.FlowControl();
    // Replacement acts only on bytes whose parity is checked.
    const bool replace = parity.Check() && parity.Replace();

    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate =
        static_cast<std::uint32_t>(BaudRateToBps(port.BaudRate(), port.CustomBaudRate()));
    dcb.Flags = DCB_fBinary | Flag(parity.Check(), DCB_fParity) |
                Flag(flow.OutCTSFlow(), DCB_fOutxCtsFlow) |
                Flag(flow.OutDSRFlow(), DCB_fOutxDsrFlow) |
                (std::uint32_t{DTRControlToOs(flow.ControlDTR())} << 4) |
                Flag(flow.DSRSensitivity(), DCB_fDsrSensitivity) |
                Flag(flow.TxContinueOnXoff(), DCB_fTXContinueOnXoff) |
                Flag(flow.XonXoffOut(), DCB_fOutX) | Flag(flow.XonXoffIn(), DCB_fInX) |
                Flag(replace, DCB_fErrorChar) | Flag(port.DiscardNull(), DCB_fNull) |
                (std::uint32_t{RTSControlToOs(flow.ControlRTS())} << 12);
    dcb.wReserved = 0;
    // Division in int32 rounds toward zero; the field keeps the low 16 bits.
    const auto limit = static_cast<std::uint16_t>(port.Buffer().InputSize() / 4);
    dcb.XonLim = limit;
    dcb.XoffLim = limit;
    dcb.ByteSize = DataBitsToOs(port.DataBits());
    dcb.Parity = ParityToOs(parity.Bits());
    dcb.StopBits = StopBitsToOs(port.StopBits());
    dcb.XonChar = flow.XonChar();
    dcb.XoffChar = flow.XoffChar();
    dcb.ErrorChar = replace ? parity.ReplaceChar() : '\0';
    dcb.EofChar = '\0';
    dcb.EvtChar = port.EventChar();
    dcb.wReserved1 = 0;
    return dcb;
}

device::COMMTIMEOUTS BuildCommTimeouts(const TComTimeouts& timeouts) {
    device::COMMTIMEOUTS record;
    record.ReadIntervalTimeout = static_cast<std::uint32_t>(timeouts.ReadInterval());
    record.ReadTotalTimeoutMultiplier = static_cast<std::uint32_t>(timeouts.ReadTotalMultiplier());
    record.ReadTotalTimeoutConstant = static_cast<std::uint32_t>(timeouts.ReadTotalConstant());
    record.WriteTotalTimeoutMultiplier =
        static_cast<std::uint32_t>(timeouts.WriteTotalMultiplier());
    record.WriteTotalTimeoutConstant = static_cast<std::uint32_t>(timeouts.WriteTotalConstant());
    return record;
}

}  // namespace cport
