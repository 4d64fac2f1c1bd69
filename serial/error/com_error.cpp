#include "serial/error/com_error.h"

#include <array>

#include "base/translation.h"

namespace cport {

namespace {

constexpr std::array<const char*, kComErrorCount> kTexts{
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
};

constexpr const char* kSuffix = " (win error code: %d)";
constexpr std::string_view kNumberDirective = "%d";

std::array<std::string, kComErrorCount>& Messages() {
    static std::array<std::string, kComErrorCount> messages = [] {
        std::array<std::string, kComErrorCount> english;
        for (std::size_t i = 0; i < english.size(); ++i) english[i] = kTexts[i];
        return english;
    }();
    return messages;
}

// A code no caller should pass still yields a readable error rather than a
// second exception while the first is being built.
std::string MessageOf(std::int32_t code) {
    if (code < 1 || code > kComErrorCount)
        return "Unknown com port error " + std::to_string(code);
    return ErrorMessages(code);
}

// Only the suffix's number is a directive: the texts come from catalogs the
// program does not control, so any other "%" is shown as it stands. A
// translation that lost its "%d" would hide the number; use the English form.
std::string Suffix(std::int32_t winCode) {
    std::string suffix = tarvik::TranslateResource(kSuffix);
    auto at = suffix.find(kNumberDirective);
    if (at == std::string::npos) {
        suffix = kSuffix;
        at = suffix.find(kNumberDirective);
    }
    return suffix.replace(at, kNumberDirective.size(), std::to_string(winCode));
}

}  // namespace

const char* ComErrorText(std::int32_t code) {
    if (code < 1 || code > kComErrorCount)
        return nullptr;
    return kTexts[static_cast<std::size_t>(code - 1)];
}

void InitComPortMessages() {
    tarvik::RegisterResourceDomain("cport");
    auto& messages = Messages();
    for (std::size_t i = 0; i < messages.size(); ++i) {
        messages[i] = tarvik::TranslateResource(kTexts[i]);
    }
}

const std::string& ErrorMessages(std::int32_t code) {
    if (code < 1 || code > kComErrorCount) {
        throw std::out_of_range("no com port error message " + std::to_string(code));
    }
    return Messages()[static_cast<std::size_t>(code - 1)];
}

EComPort::EComPort(std::int32_t code, std::int32_t winCode)
    : std::runtime_error(MessageOf(code) + Suffix(winCode)),
      winErrorCode_(winCode),
      errorCode_(code) {}

EComPort::EComPort(std::int32_t code)
    : std::runtime_error(MessageOf(code)), winErrorCode_(-1), errorCode_(code) {}

}  // namespace cport
