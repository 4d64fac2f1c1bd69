#include "serial/port/com_conversions.h"

#include <gtest/gtest.h>

#include <cctype>
#include <stdexcept>
#include <string>

namespace cport {
namespace {

TEST(ComConversions, TextListsInEnumerationOrder) {
    EXPECT_EQ(BaudRateToText(brCustom), "Custom");
    EXPECT_EQ(BaudRateToText(br19200), "19200");
    EXPECT_EQ(BaudRateToText(br256000), "256000");
    EXPECT_EQ(StopBitsToText(sbOne5StopBits), "1.5");
    EXPECT_EQ(DataBitsToText(dbFive), "5");
    EXPECT_EQ(ParityToText(prSpace), "Space");
    EXPECT_EQ(FlowControlToText(fcHardware), "Hardware");
    EXPECT_EQ(FlowControlToText(fcCustom), "Custom");
    EXPECT_EQ(DTRControlToText(dtrHandshake), "Handshake");
    EXPECT_EQ(RTSControlToText(rtsToggle), "Toggle");
}

// Every value's text reads back as that value, in any letter case.
TEST(ComConversions, EveryTextReadsBack) {
    auto lower = [](std::string text) {
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    };
    for (int i = 0; i < kBaudRateCount; ++i) {
        const auto value = static_cast<TBaudRate>(i);
        EXPECT_EQ(TextToBaudRate(BaudRateToText(value)), value);
        EXPECT_EQ(TextToBaudRate(lower(BaudRateToText(value))), value);
    }
    for (int i = 0; i < kStopBitsCount; ++i) {
        EXPECT_EQ(TextToStopBits(StopBitsToText(static_cast<TStopBits>(i))), i);
    }
    for (int i = 0; i < kDataBitsCount; ++i) {
        EXPECT_EQ(TextToDataBits(DataBitsToText(static_cast<TDataBits>(i))), i);
    }
    for (int i = 0; i < kParityBitsCount; ++i) {
        const auto value = static_cast<TParityBits>(i);
        EXPECT_EQ(TextToParity(lower(ParityToText(value))), value);
    }
    for (int i = 0; i < kFlowControlCount; ++i) {
        const auto value = static_cast<TFlowControl>(i);
        EXPECT_EQ(TextToFlowControl(lower(FlowControlToText(value))), value);
    }
    for (int i = 0; i < kDTRFlowControlCount; ++i) {
        const auto value = static_cast<TDTRFlowControl>(i);
        EXPECT_EQ(TextToDTRControl(lower(DTRControlToText(value))), value);
    }
    for (int i = 0; i < kRTSFlowControlCount; ++i) {
        const auto value = static_cast<TRTSFlowControl>(i);
        EXPECT_EQ(TextToRTSControl(lower(RTSControlToText(value))), value);
    }
}

TEST(ComConversions, UnmatchedTextsGiveTheDefaults) {
    for (const char* text : {"", " 9600", "9600 ", "9601", "x", "\xE9"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(TextToBaudRate(text), br9600);
        EXPECT_EQ(TextToStopBits(text), sbOneStopBit);
        EXPECT_EQ(TextToDataBits(text), dbEight);
        EXPECT_EQ(TextToParity(text), prNone);
        EXPECT_EQ(TextToFlowControl(text), fcCustom);
        EXPECT_EQ(TextToDTRControl(text), dtrDisable);
        EXPECT_EQ(TextToRTSControl(text), rtsDisable);
    }
    EXPECT_EQ(TextToBaudRate("115200"), br115200);
    EXPECT_EQ(TextToBaudRate("custom"), brCustom);
    EXPECT_EQ(TextToParity("eVeN"), prEven);
    // Only ASCII letters are upper-cased: a Latin-1 letter is no wildcard.
    EXPECT_EQ(TextToParity("Od\xE4"), prNone);
    // Texts shared by two lists go to the list asked for.
    EXPECT_EQ(TextToFlowControl("none"), fcNone);
    EXPECT_EQ(TextToRTSControl("handshake"), rtsHandshake);
}

TEST(ComConversions, ValueOutsideItsListHasNoText) {
    EXPECT_THROW(BaudRateToText(static_cast<TBaudRate>(16)), std::out_of_range);
    EXPECT_THROW(ParityToText(static_cast<TParityBits>(200)), std::out_of_range);
}

TEST(ComConversions, TextToChar) {
    struct Row {
        std::string text;
        int code;
    };
    const Row rows[] = {
        {"", 0},        {"A", 'A'},          {"AB", 'A'},
        {"#", '#'},     {"#65", 'A'},        {"#$41", 'A'},
        {"#0x41", 'A'}, {"#X41", 'A'},       {"#300", 44},
        {"#-1", 255},   {"#+13", 13},        {"# 17", 17},
        {"#abc", 0},    {"#12 ", 0},         {"#$", 0},
        {"#-", 0},      {"#99999999999", 0}, {"#$FFFFFFFF", 255},
        {"##", 0},      {" #65", ' '},       {std::string(1, '\0'), 0},
        {"\xFF", 255},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("text '" + row.text + "'");
        EXPECT_EQ(static_cast<unsigned char>(TextToChar(row.text)), row.code);
    }
}

TEST(ComConversions, CharToTextAndBack) {
    EXPECT_EQ(CharToText('\0'), "#0");
    EXPECT_EQ(CharToText('\r'), "#13");
    EXPECT_EQ(CharToText(17), "#17");
    EXPECT_EQ(CharToText(' '), "#32");
    EXPECT_EQ(CharToText('!'), "!");
    EXPECT_EQ(CharToText('A'), "A");
    EXPECT_EQ(CharToText('#'), "#");
    EXPECT_EQ(CharToText(127), std::string(1, '\x7F'));
    EXPECT_EQ(CharToText(static_cast<char>(128)), "#128");
    EXPECT_EQ(CharToText(static_cast<char>(255)), "#255");
    for (int code = 0; code < 256; ++code) {
        const char c = static_cast<char>(code);
        EXPECT_EQ(TextToChar(CharToText(c)), c) << "code " << code;
    }
}

TEST(ComConversions, Bool) {
    EXPECT_EQ(BoolToText(true), "Yes");
    EXPECT_EQ(BoolToText(false), "No");
    for (const char* text : {"Yes", "yes", "YeS", "YES"}) EXPECT_TRUE(TextToBool(text)) << text;
    for (const char* text : {"Y", "No", "1", "true", "", " yes", "yes "}) {
        EXPECT_FALSE(TextToBool(text)) << text;
    }
}

}  // namespace
}  // namespace cport
