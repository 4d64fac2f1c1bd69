#include "serial/port/com_os_values.h"

#include <array>
#include <stdexcept>
#include <string>

namespace cport {

namespace {

constexpr std::array<std::int32_t, kBaudRateCount> kBaudRates{
    0,     110,   300,   600,   1200,  2400,   4800,   9600,
    14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};

constexpr std::array<std::uint32_t, kComEventCount> kEventMaskBits{
    0x0001, 0x0004, 0x0002, 0x0100, 0x0040, 0x0008, 0x0010, 0x0080, 0x0020, 0x0400};

// Values reach these functions from enumerations only; a byte outside the
// enumeration means a corrupted setting, which must not reach the device.
std::uint8_t Checked(int value, int count, const char* type) {
    if (value < 0 || value >= count) {
        throw std::out_of_range(std::string(type) + " value " + std::to_string(value) +
                                " is out of range");
    }
    return static_cast<std::uint8_t>(value);
}

}  // namespace

std::int32_t BaudRateToBps(TBaudRate value, std::int32_t customRate) {
    const auto index = Checked(value, kBaudRateCount, "TBaudRate");
    return value == brCustom ? customRate : kBaudRates[index];
}

std::uint8_t StopBitsToOs(TStopBits value) {
    return Checked(value, kStopBitsCount, "TStopBits");
}

std::uint8_t DataBitsToOs(TDataBits value) {
    return static_cast<std::uint8_t>(Checked(value, kDataBitsCount, "TDataBits") + 5);
}

std::uint8_t ParityToOs(TParityBits value) {
    return Checked(value, kParityBitsCount, "TParityBits");
}

std::uint8_t DTRControlToOs(TDTRFlowControl value) {
    return Checked(value, kDTRFlowControlCount, "TDTRFlowControl");
}

std::uint8_t RTSControlToOs(TRTSFlowControl value) {
    return Checked(value, kRTSFlowControlCount, "TRTSFlowControl");
}

std::uint32_t EventMaskBit(TComEvent event) {
    return kEventMaskBits[Checked(event, kComEventCount, "TComEvent")];
}

std::uint32_t EventsToMask(TComEvents events) {
    std::uint32_t mask = 0;
    for (int i = 0; i < kComEventCount; ++i) {
        if (events.Contains(static_cast<TComEvent>(i)))
            mask |= kEventMaskBits[i];
    }
    return mask;
}

TComEvents MaskToEvents(std::uint32_t mask) {
    TComEvents events;
    for (int i = 0; i < kComEventCount; ++i) {
        if ((mask & kEventMaskBits[i]) != 0)
            events.Include(static_cast<TComEvent>(i));
    }
    return events;
}

}  // namespace cport
