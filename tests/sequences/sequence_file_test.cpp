// The sequence set's file: a full set read, written and read back equal,
// and every kind of bad file refused at its line with its reason.

#include "sequences/sequence_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <ostream>

namespace tarvik::sequences {
namespace {

constexpr const char* kFullSet = R"(# a bench's set
[send poll]
line = 0x01 0x03 0x00 0x00 0x00 0x01
check = CRC-16/MODBUS
key = Shift+F12
repeat = 3
interval = 50

  [send ack]
line = 0x06

[rule answer polls]
pattern = 0x01 0x03 ?? ?? 0x00 0x01
check = CRC-16/MODBUS
answer = ack
delay = 5
mark = yes
count = yes
stop timer = yes
enabled = no
)";

TEST(SequenceFileTest, ReadsWritesAndReadsBackEqual) {
    const SequenceSet set = ParseSequenceSet(kFullSet, "set.seq");
    ASSERT_EQ(set.sends.size(), 2u);
    ASSERT_EQ(set.rules.size(), 1u);
    const SendSequence& poll = set.sends[0];
    EXPECT_EQ(poll.line, "0x01 0x03 0x00 0x00 0x00 0x01");
    EXPECT_EQ(poll.check, "CRC-16/MODBUS");
    EXPECT_EQ(KeyName(poll.key, poll.shift), "Shift+F12");
    EXPECT_EQ(poll.repeat, 3);
    EXPECT_EQ(poll.intervalMs, 50);
    EXPECT_EQ(EncodeSend(poll), std::string("\x01\x03\x00\x00\x00\x01\x84\x0A", 8));
    const ReceiveRule& rule = set.rules[0];
    EXPECT_EQ(rule.answer, "ack");
    EXPECT_EQ(rule.delayMs, 5);
    EXPECT_TRUE(rule.mark && rule.count && rule.stopTimer && !rule.enabled);
    EXPECT_EQ(set.sends[1].key, 0);
    EXPECT_EQ(set.sends[1].repeat, 1);

    const auto file = std::filesystem::temp_directory_path() / "tarvik_sequences_test.seq";
    SaveSequenceSet(file.string(), set);
    EXPECT_EQ(LoadSequenceSet(file.string()), set);
    // Saving is a fixed form: a second save is the same text.
    EXPECT_EQ(FormatSequenceSet(LoadSequenceSet(file.string())), FormatSequenceSet(set));
    std::filesystem::remove(file);
}

struct BadFile {
    const char* text;
    const char* where;   // "set.seq:N: "
    const char* reason;  // a part of the message
};

// Names the row in the test's name by its reason.
void PrintTo(const BadFile& file, std::ostream* out) {
    *out << file.reason;
}

class BadSequenceFileTest : public testing::TestWithParam<BadFile> {};

TEST_P(BadSequenceFileTest, IsRefusedAtItsLine) {
    try {
        ParseSequenceSet(GetParam().text, "set.seq");
        FAIL() << "accepted";
    } catch (const ESequenceFile& error) {
        const std::string message = error.what();
        EXPECT_EQ(message.rfind(GetParam().where, 0), 0u) << message;
        EXPECT_NE(message.find(GetParam().reason), std::string::npos) << message;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, BadSequenceFileTest,
    testing::Values(
        BadFile{"line = 0x01\n", "set.seq:1: ", "comes before any"},
        BadFile{"[send a]\nline = 0x01\n[macro b]\n", "set.seq:3: ", "is no section"},
        BadFile{"[send]\n", "set.seq:1: ", "needs a name"},
        BadFile{"[send a\n", "set.seq:1: ", "ends with ']'"},
        BadFile{"[send a]\nline 0x01\n", "set.seq:2: ", "neither"},
        BadFile{"[send a]\nline = 0x01\nline = 0x02\n", "set.seq:3: ", "given twice"},
        BadFile{"[send a]\nline = 0x01\n[send a]\nline = 0x02\n", "set.seq:3: ", "already there"},
        BadFile{"[send a]\nline = \"open\n", "set.seq:2: ", "the line '\"open'"},
        BadFile{"[send a]\nline = 0x01\ncheck = CRC-99\n", "set.seq:3: ", "No check value"},
        BadFile{"[send a]\nline = 0x01\nkey = F13\n", "set.seq:3: ", "F1 to F12"},
        BadFile{"[send a]\nline = 0x01\nkey = Ctrl+F1\n", "set.seq:3: ", "F1 to F12"},
        BadFile{"[send a]\nline = 0x01\nrepeat = 0\n", "set.seq:3: ", "takes 1 to"},
        BadFile{"[send a]\nline = 0x01\ninterval = -5\n", "set.seq:3: ", "whole number"},
        BadFile{"[send a]\nline = 0x01\ncolour = red\n", "set.seq:3: ", "has no 'colour'"},
        BadFile{"\n[send a]\nkey = F1\n", "set.seq:2: ", "has no line"},
        BadFile{"[rule r]\nanswer = a\n", "set.seq:1: ", "has no pattern"},
        BadFile{"[rule r]\npattern = 0x01 x\n", "set.seq:2: ", "is not in the notation"},
        BadFile{"[rule r]\npattern = ??\nmark = maybe\n", "set.seq:3: ", "yes or no"},
        BadFile{"[rule r]\npattern = 0x01\n\nanswer = nobody\n",
                "set.seq:4: ", "no send sequence here"},
        BadFile{"[rule r]\npattern = 0x01\n[rule r]\npattern = 0x02\n",
                "set.seq:3: ", "already there"}));

TEST(SequenceFileTest, AFileThatCannotBeReadSaysSo) {
    // Missing, a folder, and a stream without end: each refused, none read without bound.
    for (const char* name : {"/nonexistent/set.seq", "/tmp", "/dev/zero"})
        EXPECT_THROW(LoadSequenceSet(name), ESequenceFile) << name;
    EXPECT_THROW(SaveSequenceSet("/nonexistent/set.seq", {}), ESequenceFile);
}

}  // namespace
}  // namespace tarvik::sequences
