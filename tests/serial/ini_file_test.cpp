#include "serial/store/ini_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "storage_test_util.h"

namespace cport {
namespace {

using testing::HasSubstr;
using testutil::ReadFile;
using testutil::TempFolder;
using testutil::WriteFile;

// Every value must come back exactly, and the file must still read as a
// person would write it.
TEST(IniFile, ValuesSurviveTheFileExactly) {
    const std::vector<std::string> values{
        "#13",         "Yes",        "",      "  leading",       "trailing  ",
        " both ",      ";semicolon", "#hash", "a,b,c",           "\"quoted\"",
        "'",           "'single'",   "x=y=z", "[not a section]", "\xe4\xff",
        "tab\tinside", "\"",         "a\"",   "%s %d",           "\t"};
    TempFolder folder;
    const auto file = folder / "values.ini";
    {
        TIniFile ini(file);
        for (std::size_t i = 0; i < values.size(); ++i)
            ini.WriteString("C1", "Key" + std::to_string(i), values[i]);
        ini.UpdateFile();
    }
    TIniFile ini(file);
    for (std::size_t i = 0; i < values.size(); ++i)
        EXPECT_EQ(ini.ReadString("C1", "Key" + std::to_string(i), "absent"), values[i]) << i;

    const std::string text = ReadFile(file);
    EXPECT_THAT(text, HasSubstr("[C1]\nKey0=#13\nKey1=Yes\nKey2=\nKey3=\"  leading\"\n"));
    EXPECT_THAT(text, HasSubstr("\nKey8=a,b,c\n"));
    EXPECT_THAT(text, HasSubstr("\nKey14=\xc3\xa4\xc3\xbf\n"));  // UTF-8 on the disk
}

TEST(IniFile, HandEditedFileKeepsItsShapeWhenWritten) {
    TempFolder folder;
    const auto file = folder / "hand.ini";
    WriteFile(file,
              "\xEF\xBB\xBF; my ports\r\n"
              "[c1]\r\n"
              "  port = COM7  \r\n"
              "# spare line below\r\n"
              "\r\n"
              "BAUDRATE='19200'\r\n"
              "[Other]\r\n"
              "Port=x\r\n");
    TIniFile ini(file);
    EXPECT_EQ(ini.ReadString("C1", "Port", ""), "COM7");
    EXPECT_EQ(ini.ReadString("C1", "BaudRate", ""), "19200");
    EXPECT_EQ(ini.ReadString("OTHER", "PORT", ""), "x");
    EXPECT_TRUE(ini.SectionExists("C1"));
    EXPECT_FALSE(ini.ValueExists("C1", "StopBits"));

    ini.WriteString("C1", "Port", "COM8");
    ini.WriteString("C1", "StopBits", "2");
    ini.WriteString("New", "A", "1");
    ini.UpdateFile();
    EXPECT_EQ(ReadFile(file),
              "\xEF\xBB\xBF; my ports\r\n"
              "[c1]\r\n"
              "port=COM8\r\n"
              "# spare line below\r\n"
              "\r\n"
              "BAUDRATE='19200'\r\n"
              "StopBits=2\r\n"
              "[Other]\r\n"
              "Port=x\r\n"
              "\r\n"
              "[New]\r\n"
              "A=1\r\n");
}

// CR LF, a lone CR and a lone LF each end a line; every line end stays as
// it was, and a last line without one gets the file's first when a line follows.
TEST(IniFile, EveryLineEndEndsALineAndStays) {
    const struct {
        std::string contents;
        std::string written;  // after Port=COM2 and DataBits=7
    } cases[] = {
        {"[C1]\r\r\nPort=COM1\r\r\n", "[C1]\r\r\nPort=COM2\rDataBits=7\r\r\n"},
        {"[C1]\r\nPort=COM1\r\r\nStopBits=2\rParity=Even\nFlowControl=None",
         "[C1]\r\nPort=COM2\r\r\nStopBits=2\rParity=Even\nFlowControl=None\r\nDataBits=7\r\n"},
        {"[C1]\rPort=COM1", "[C1]\rPort=COM2\rDataBits=7\r"},
    };
    TempFolder folder;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.contents);
        const auto file = folder / "ends.ini";
        WriteFile(file, c.contents);
        TIniFile ini(file);
        EXPECT_TRUE(ini.SectionExists("C1"));
        EXPECT_EQ(ini.ReadString("C1", "Port", ""), "COM1");
        ini.WriteString("C1", "Port", "COM2");
        ini.WriteString("C1", "DataBits", "7");
        ini.UpdateFile();
        EXPECT_EQ(ReadFile(file), c.written);
    }
}

// Lines the reader cannot use are skipped and kept; the first of two keys
// or sections counts; a value that cannot be read is refused only when read.
TEST(IniFile, StrayLinesAreSkippedAndKept) {
    const std::string contents =
        "Port=before the first section\n"
        "[C1] ; the adapter\n"
        "this is not a setting\n"
        "Port=COM1\n"
        "port=COM2\n"
        "=no key\n"
        "[Other\n"
        "Parity=\xff\xfe\n"
        "[c1]\n"
        "BaudRate=19200\n";
    TempFolder folder;
    const auto file = folder / "stray.ini";
    WriteFile(file, contents);
    TIniFile ini(file);
    EXPECT_EQ(ini.ReadString("C1", "Port", ""), "COM1");
    EXPECT_FALSE(ini.ValueExists("C1", "BaudRate"));
    try {
        ini.ReadString("C1", "Parity", "");
        ADD_FAILURE();
    } catch (const EIniFileError& error) {
        EXPECT_THAT(error.what(), HasSubstr("line 8"));
        EXPECT_THAT(error.what(), HasSubstr("not UTF-8"));
    }
    ini.WriteString("C1", "Port", "COM9");
    ini.UpdateFile();
    std::string expected = contents;
    expected.replace(expected.find("Port=COM1"), 9, "Port=COM9");
    EXPECT_EQ(ReadFile(file), expected);
}

TEST(IniFile, FileWithNulIsRefusedAsNotText) {
    TempFolder folder;
    const auto file = folder / "binary.ini";
    WriteFile(file, std::string("[C1]\nPort=CO\0M1\n", 16));
    try {
        TIniFile ini(file);
        ADD_FAILURE();
    } catch (const EIniFileError& error) {
        EXPECT_THAT(error.what(), HasSubstr("NUL"));
        EXPECT_THAT(error.what(), HasSubstr(file.string()));
    }
}

TEST(IniFile, UnreadableFileIsAnError) {
    TempFolder folder;
    std::filesystem::create_directory(folder / "folder.ini");
    EXPECT_THROW(TIniFile(folder / "folder.ini"), EIniFileError);

    if (::geteuid() != 0) {  // root reads every file
        const auto file = folder / "locked.ini";
        WriteFile(file, "[C1]\n");
        std::filesystem::permissions(file, std::filesystem::perms::none);
        EXPECT_THROW(TIniFile{file}, EIniFileError);
    }
}

TEST(IniFile, MissingFileIsEmptyAndAppearsOnlyWhenWritten) {
    TempFolder folder;
    const auto file = folder / "new.ini";
    TIniFile ini(file);
    EXPECT_EQ(ini.ReadString("C1", "Port", "COM1"), "COM1");
    EXPECT_EQ(ini.ReadInteger("C1", "Size", 77), 77);
    ini.UpdateFile();
    EXPECT_FALSE(std::filesystem::exists(file));

    ini.WriteInteger("C1", "Size", -5);
    EXPECT_TRUE(ini.Modified());
    ini.UpdateFile();
    EXPECT_FALSE(ini.Modified());
    EXPECT_EQ(ReadFile(file), "[C1]\nSize=-5\n");
}

TEST(IniFile, IntegersReadInTheProgramsNotation) {
    TempFolder folder;
    const auto file = folder / "numbers.ini";
    WriteFile(file, "[C1]\nHex=$10\nBlanks=  42  \nNegative=-1\nBad=12x\nEmpty=\n");
    TIniFile ini(file);
    EXPECT_EQ(ini.ReadInteger("C1", "Hex", 0), 16);
    EXPECT_EQ(ini.ReadInteger("C1", "Blanks", 0), 42);
    EXPECT_EQ(ini.ReadInteger("C1", "Negative", 0), -1);
    EXPECT_EQ(ini.ReadInteger("C1", "Absent", 9600), 9600);
    try {
        ini.ReadInteger("C1", "Bad", 0);
        ADD_FAILURE();
    } catch (const EIniFileError& error) {
        EXPECT_THAT(error.what(), HasSubstr("'12x' is not a valid integer value"));
        EXPECT_THAT(error.what(), HasSubstr("line 5"));
    }
    EXPECT_THROW(ini.ReadInteger("C1", "Empty", 0), EIniFileError);
}

TEST(IniFile, RefusesWhatALineCannotHold) {
    TempFolder folder;
    TIniFile ini(folder / "refuse.ini");
    EXPECT_THROW(ini.WriteString("C1", "Port", "a\nb"), EIniFileError);
    EXPECT_THROW(ini.WriteString("C1", "Port", "a\rb"), EIniFileError);
    EXPECT_THROW(ini.WriteString("C1", "Port", std::string("a\0b", 3)), EIniFileError);
    EXPECT_THROW(ini.WriteString("C]1", "Port", "x"), EIniFileError);
    EXPECT_THROW(ini.WriteString("C1", "Po=rt", "x"), EIniFileError);
    EXPECT_THROW(ini.WriteString("C1", ";Port", "x"), EIniFileError);
    EXPECT_FALSE(ini.Modified());
}

TEST(IniFile, ValueBeyondLatin1IsAnError) {
    TempFolder folder;
    const auto file = folder / "cyrillic.ini";
    WriteFile(file, "; Комментарий stays allowed\n[C1]\nPort=tty\xd0\x96\n");
    TIniFile ini(file);
    EXPECT_THROW(ini.ReadString("C1", "Port", ""), EIniFileError);
}

TEST(IniFile, LinkAndPermissionsSurviveAnUpdate) {
    TempFolder folder;
    const auto real = folder / "real.ini";
    const auto link = folder / "link.ini";
    WriteFile(real, "[C1]\nPort=COM1\n");
    ::chmod(real.c_str(), 0640);
    std::filesystem::create_symlink(real, link);

    TIniFile ini(link);
    ini.WriteString("C1", "Port", "COM2");
    ini.UpdateFile();
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadFile(real), "[C1]\nPort=COM2\n");
    struct stat info {};
    ASSERT_EQ(::stat(real.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

// A program killed while writing leaves one whole version of the file.
TEST(IniFile, KilledWriterLeavesAWholeFile) {
    TempFolder folder;
    const auto file = folder / "crash.ini";
    const std::string filler(64 * 1024, 'f');
    auto write = [&](int n) {
        TIniFile ini(file);
        ini.WriteInteger("C1", "Version", n);
        ini.WriteString("C1", "Filler", filler);
        ini.WriteInteger("C1", "Check", n);
        ini.UpdateFile();
    };
    write(0);
    testutil::KillDuringWrites(write, 20);

    TIniFile ini(file);
    const int version = ini.ReadInteger("C1", "Version", -1);
    EXPECT_GE(version, 20);
    EXPECT_EQ(ini.ReadInteger("C1", "Check", -1), version);
    EXPECT_EQ(ini.ReadString("C1", "Filler", ""), filler);
}

}  // namespace
}  // namespace cport
