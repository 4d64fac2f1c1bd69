#pragma once
// EComPort, the one error class of the serial port component, and the table
// of its translated messages.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace cport {

// Component error codes 1..23; the message of each is in com_error.cpp.
enum ComErrorCode : std::int32_t {
    ecOpen = 1,              // "Unable to open com port"
    ecWrite = 2,             // "WriteFile function failed"
    ecRead = 3,              // "ReadFile function failed"
    ecInvalidAsync = 4,      // "Invalid Async parameter"
    ecPurge = 5,             // "PurgeComm function failed"
    ecAsyncStatus = 6,       // "Unable to get async status"
    ecSetState = 7,          // "SetCommState function failed"
    ecSetTimeouts = 8,       // "SetCommTimeouts failed"
    ecSetup = 9,             // "SetupComm function failed"
    ecClearError = 10,       // "ClearCommError function failed"
    ecModemStatus = 11,      // "GetCommModemStatus function failed"
    ecEscape = 12,           // "EscapeCommFunction function failed"
    ecTransmit = 13,         // "TransmitCommChar function failed"
    ecConnectedChange = 14,  // "Cannot set property while connected"
    ecEnumPorts = 15,        // "EnumPorts function failed"
    ecStore = 16,            // "Failed to store settings"
    ecLoad = 17,             // "Failed to load settings"
    ecLink = 18,             // "Link (un)registration failed"
    ecLedState = 19,         // "Cannot change led state if ComPort is selected"
    ecThreadCreated = 20,    // "Cannot wait for event if event thread is created"
    ecWaitForEvent = 21,     // "WaitForEvent method failed"
    ecRxBufLinked = 22,      // "A component is linked to OnRxBuf event"
    ecRegistry = 23,         // "Registry error"
};
inline constexpr std::int32_t kComErrorCount = 23;

// The English text of a code exactly as the catalogs know it; nullptr outside 1..23.
const char* ComErrorText(std::int32_t code);

// Registers the domain "cport" for resource texts and fills ErrorMessages
// with the translations of the 23 texts. Call once on the main thread at
// start-up, after tarvik::InitTranslation and before any port object exists.
void InitComPortMessages();

// The translated message of a code (UTF-8): the English text until
// InitComPortMessages has run. Throws std::out_of_range outside 1..23.
// Safe to read from any thread once start-up is over.
const std::string& ErrorMessages(std::int32_t code);

// Raised for every failure of the component; what() is UTF-8. Thrown by
// value, caught by reference; any thread.
class EComPort : public std::runtime_error {
  public:
    // With the operating system's error number: the message followed by the
    // suffix " (win error code: <number>)", both translated.
    EComPort(std::int32_t code, std::int32_t winCode);
    // Without one: the message alone; WinErrorCode() is -1.
    explicit EComPort(std::int32_t code);

    // The system's error number (errno on Linux), or -1.
    std::int32_t WinErrorCode() const { return winErrorCode_; }
    // The component error code, 1..23.
    std::int32_t ErrorCode() const { return errorCode_; }

  private:
    std::int32_t winErrorCode_;
    std::int32_t errorCode_;
};

}  // namespace cport
