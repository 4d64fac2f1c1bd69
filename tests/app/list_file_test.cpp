#include "app/list_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace tarvik {
namespace {

namespace fs = std::filesystem;

class ListFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarvik-listfile-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(dir_);
    }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    void Write(const std::string& name, const std::string& bytes) const {
        std::ofstream(Path(name), std::ios::binary) << bytes;
    }
    std::string Read(const std::string& name) const {
        std::ifstream in(Path(name), std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    fs::path dir_;
};

TEST(SplitListText, AcceptsEveryLineEndAndStopsAtNul) {
    using V = std::vector<Text>;
    EXPECT_EQ(SplitListText(""), V{});
    EXPECT_EQ(SplitListText("\r\n"), V{""});
    EXPECT_EQ(SplitListText("a\r\nb\r\n"), (V{"a", "b"}));
    EXPECT_EQ(SplitListText("a\nb\n"), (V{"a", "b"}));
    EXPECT_EQ(SplitListText("a\rb\r"), (V{"a", "b"}));
    EXPECT_EQ(SplitListText("a\r\rb"), (V{"a", "", "b"}));
    EXPECT_EQ(SplitListText("a\n\r\nb"), (V{"a", "", "b"}));
    EXPECT_EQ(SplitListText("last without end"), V{"last without end"});
    EXPECT_EQ(SplitListText(std::string("a\r\nb\0c\r\nd", 9)), (V{"a", "b"}));
    EXPECT_EQ(SplitListText("\xFF\x80\r\n"), V{"\xFF\x80"});
}

TEST_F(ListFileTest, SavesEveryLineWithCrLfAndLoadsItBack) {
    const std::vector<Text> lines{"0x41  A (2)", "", "\xE9\x01"};
    SaveListFile(Path("log.txt"), lines);
    EXPECT_EQ(Read("log.txt"), "0x41  A (2)\r\n\r\n\xE9\x01\r\n");
    EXPECT_EQ(LoadListFile(Path("log.txt")), lines);
}

TEST_F(ListFileTest, ClearedLogIsTwoBytes) {
    SaveListFile(Path("empty.txt"), {""});
    EXPECT_EQ(Read("empty.txt"), "\r\n");
    EXPECT_EQ(LoadListFile(Path("empty.txt")), std::vector<Text>{""});
}

TEST_F(ListFileTest, OverwritesAndKeepsPermissions) {
    Write("old.txt", "a much longer old content\r\n");
    ::chmod(Path("old.txt").c_str(), 0640);
    SaveListFile(Path("old.txt"), {"new"});
    EXPECT_EQ(Read("old.txt"), "new\r\n");
    struct stat st {};
    ASSERT_EQ(::stat(Path("old.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator{}), 1)
        << "no temporary file is left behind";
}

TEST_F(ListFileTest, MissingFileRaisesOpenErrorWithReason) {
    try {
        LoadListFile(Path("missing.txt"));
        FAIL();
    } catch (const EFOpenError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot open file \"" + Path("missing.txt") + "\". No such file or directory");
    }
    EXPECT_THROW(LoadListFile(dir_.string()), EFOpenError) << "a directory is not a list file";
}

TEST_F(ListFileTest, UnwritableDirectoryRaisesCreateError) {
    // /proc takes no new files, even from root; a plain directory without
    // write permission shows the same for everyone else.
    EXPECT_THROW(SaveListFile("/proc/tarvik2-test.txt", {"a"}), EFCreateError);
    if (::geteuid() == 0) return;
    fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_THROW(SaveListFile(Path("x.txt"), {"a"}), EFCreateError);
}

TEST_F(ListFileTest, MissingDirectoryRaisesCreateError) {
    try {
        SaveListFile(Path("no/such/dir.txt"), {"a"});
        FAIL();
    } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot create file \"" + Path("no/such/dir.txt") + "\". No such file or directory");
    }
}

// A save that fails half way (here: the file size limit is reached while
// writing) must leave the file that was there untouched.
TEST_F(ListFileTest, FailedSaveLeavesOldFileIntact) {
    Write("keep.txt", "precious\r\n");
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::vector<Text> big(1000, std::string(100, 'x'));
    EXPECT_THROW(SaveListFile(Path("keep.txt"), big), EFCreateError);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &old), 0);
    EXPECT_EQ(Read("keep.txt"), "precious\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator{}), 1);
}

TEST_F(ListFileTest, ReadOnlyFileIsNotReplaced) {
    if (::geteuid() == 0) GTEST_SKIP() << "root may write a read-only file";
    Write("ro.txt", "old\r\n");
    ::chmod(Path("ro.txt").c_str(), 0444);
    EXPECT_THROW(SaveListFile(Path("ro.txt"), {"new"}), EFCreateError);
    EXPECT_EQ(Read("ro.txt"), "old\r\n");
}

TEST(ProposedListFileName, StampsDayMonthYearAndTime) {
    std::tm t{};
    t.tm_mday = 7;
    t.tm_mon = 11;
    t.tm_year = 126;
    t.tm_hour = 5;
    t.tm_min = 13;
    t.tm_sec = 46;
    EXPECT_EQ(ProposedListFileName("RX1", t), "RX1_071226_051346.txt");
}

}  // namespace
}  // namespace tarvik
