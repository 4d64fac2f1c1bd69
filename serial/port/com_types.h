#pragma once
// The value types of the serial port component: the settings enumerations,
// the event and error sets, the stored-group set and the handler types.
// Each enumeration is held in one byte and runs 0..N-1 in the listed order;
// the text lists are in com_conversions.h, the values the device receives in
// com_os_values.h.

#include <cstdint>
#include <functional>

#include "serial/port/enum_set.h"

class QObject;

namespace cport {

enum TBaudRate : std::uint8_t {
    brCustom,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
inline constexpr int kBaudRateCount = 16;

enum TStopBits : std::uint8_t { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
inline constexpr int kStopBitsCount = 3;

enum TDataBits : std::uint8_t { dbFive, dbSix, dbSeven, dbEight };
inline constexpr int kDataBitsCount = 4;

enum TParityBits : std::uint8_t { prNone, prOdd, prEven, prMark, prSpace };
inline constexpr int kParityBitsCount = 5;

enum TDTRFlowControl : std::uint8_t { dtrDisable, dtrEnable, dtrHandshake };
inline constexpr int kDTRFlowControlCount = 3;

enum TRTSFlowControl : std::uint8_t { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
inline constexpr int kRTSFlowControlCount = 4;

// A preset over the flow-control fields; it holds no state of its own.
enum TFlowControl : std::uint8_t { fcHardware, fcSoftware, fcNone, fcCustom };
inline constexpr int kFlowControlCount = 4;

// Where the event handlers run: on the main thread through a blocking
// hand-over, on the main thread through a notification, or on the event thread.
enum TSyncMethod : std::uint8_t { smThreadSync, smWindowSync, smNone };

enum TComEvent : std::uint8_t {
    evRxChar,
    evTxEmpty,
    evRxFlag,
    evRing,
    evBreak,
    evCTS,
    evDSR,
    evError,
    evRLSD,
    evRx80Full
};
inline constexpr int kComEventCount = 10;
// Member n at bit n (evRxChar is bit 0, evRx80Full bit 9).
using TComEvents = EnumSet<TComEvent, std::uint16_t>;
inline constexpr TComEvents kAllComEvents = TComEvents::FromBits(0x03FF);

enum TComError : std::uint8_t {
    ceFrame,
    ceRxParity,
    ceOverrun,
    ceBreak,
    ceIO,
    ceMode,
    ceRxOver,
    ceTxFull
};
using TComErrors = EnumSet<TComError, std::uint8_t>;

// The modem input lines that are on, as ModemSignals reports them.
enum TModemSignal : std::uint8_t { msCTS, msDSR, msRing, msRLSD };
using TModemSignals = EnumSet<TModemSignal, std::uint8_t>;

// The setting groups that settings storage writes and reads; bit values
// 1, 2, 4, 8, 16, 32 in this order.
enum TStoredGroup : std::uint8_t {
    sgBasic,
    sgFlowControl,
    sgBuffer,
    sgTimeouts,
    sgParity,
    sgOthers
};
using TStoredGroups = EnumSet<TStoredGroup, std::uint8_t>;

// Handlers: Sender is always the port object. An empty function is "unset".
using TNotifyEvent = std::function<void(QObject* Sender)>;
using TRxCharEvent = std::function<void(QObject* Sender, std::int32_t Count)>;
using TRxBufEvent = std::function<void(QObject* Sender, const void* Buffer, std::int32_t Count)>;
using TComSignalEvent = std::function<void(QObject* Sender, bool OnOff)>;
using TComErrorEvent = std::function<void(QObject* Sender, TComErrors Errors)>;

}  // namespace cport
