#include "serial/port/com_conversions.h"

#include <array>
#include <stdexcept>

#include "base/int_conversion.h"

namespace cport {

namespace {

constexpr std::array<const char*, kBaudRateCount> kBaudRateTexts{
    "Custom", "110",   "300",   "600",   "1200",  "2400",   "4800",   "9600",
    "14400",  "19200", "38400", "56000", "57600", "115200", "128000", "256000"};
constexpr std::array<const char*, kStopBitsCount> kStopBitsTexts{"1", "1.5", "2"};
constexpr std::array<const char*, kDataBitsCount> kDataBitsTexts{"5", "6", "7", "8"};
constexpr std::array<const char*, kParityBitsCount> kParityTexts{"None", "Odd", "Even", "Mark",
                                                                 "Space"};
constexpr std::array<const char*, kFlowControlCount> kFlowControlTexts{"Hardware", "Software",
                                                                       "None", "Custom"};
constexpr std::array<const char*, kDTRFlowControlCount> kDTRTexts{"Disable", "Enable", "Handshake"};
constexpr std::array<const char*, kRTSFlowControlCount> kRTSTexts{"Disable", "Enable", "Handshake",
                                                                  "Toggle"};

template <std::size_t N>
tarvik::Text EntryOf(const std::array<const char*, N>& list, int value, const char* type) {
    if (value < 0 || value >= static_cast<int>(N)) {
        throw std::out_of_range(std::string(type) + " value " + std::to_string(value) +
                                " has no text");
    }
    return list[static_cast<std::size_t>(value)];
}

char UpperAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualUpperCased(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (UpperAscii(a[i]) != UpperAscii(b[i]))
            return false;
    }
    return true;
}

// The first entry equal to the text, upper-cased on both sides; else the default.
template <typename Enum, std::size_t N>
Enum Match(const std::array<const char*, N>& list, std::string_view text, Enum fallback) {
    for (std::size_t i = 0; i < N; ++i) {
        if (EqualUpperCased(text, list[i]))
            return static_cast<Enum>(i);
    }
    return fallback;
}

}  // namespace

tarvik::Text BaudRateToText(TBaudRate value) {
    return EntryOf(kBaudRateTexts, value, "TBaudRate");
}
TBaudRate TextToBaudRate(std::string_view text) {
    return Match(kBaudRateTexts, text, br9600);
}

tarvik::Text StopBitsToText(TStopBits value) {
    return EntryOf(kStopBitsTexts, value, "TStopBits");
}
TStopBits TextToStopBits(std::string_view text) {
    return Match(kStopBitsTexts, text, sbOneStopBit);
}

tarvik::Text DataBitsToText(TDataBits value) {
    return EntryOf(kDataBitsTexts, value, "TDataBits");
}
TDataBits TextToDataBits(std::string_view text) {
    return Match(kDataBitsTexts, text, dbEight);
}

tarvik::Text ParityToText(TParityBits value) {
    return EntryOf(kParityTexts, value, "TParityBits");
}
TParityBits TextToParity(std::string_view text) {
    return Match(kParityTexts, text, prNone);
}

tarvik::Text FlowControlToText(TFlowControl value) {
    return EntryOf(kFlowControlTexts, value, "TFlowControl");
}
TFlowControl TextToFlowControl(std::string_view text) {
    return Match(kFlowControlTexts, text, fcCustom);
}

tarvik::Text DTRControlToText(TDTRFlowControl value) {
    return EntryOf(kDTRTexts, value, "TDTRFlowControl");
}
TDTRFlowControl TextToDTRControl(std::string_view text) {
    return Match(kDTRTexts, text, dtrDisable);
}

tarvik::Text RTSControlToText(TRTSFlowControl value) {
    return EntryOf(kRTSTexts, value, "TRTSFlowControl");
}
TRTSFlowControl TextToRTSControl(std::string_view text) {
    return Match(kRTSTexts, text, rtsDisable);
}

tarvik::Text CharToText(char value) {
    const auto code = static_cast<unsigned char>(value);
    if (code >= 33 && code <= 127)
        return tarvik::Text(1, value);
    return tarvik::Text("#").append(std::to_string(code));
}

char TextToChar(std::string_view text) {
    if (text.empty())
        return '\0';
    if (text.front() != '#' || text.size() == 1)
        return text.front();
    try {
        return static_cast<char>(static_cast<std::uint32_t>(tarvik::StrToInt(text.substr(1))) &
                                 0xFFu);
    } catch (const tarvik::EConvertError&) {
        // Stored settings may be hand-edited; an unreadable character reads as 0.
        return '\0';
    }
}

tarvik::Text BoolToText(bool value) {
    return value ? "Yes" : "No";
}

bool TextToBool(std::string_view text) {
    return EqualUpperCased(text, "YES");
}

}  // namespace cport
