#include "base/list_file.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <utility>

namespace tarvik {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;  // who writes the file but not its folder, when run as root

bool BecomeNobody() {
    return ::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0;
}

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
    if (::geteuid() == 0)
        return;
    fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_THROW(SaveListFile(Path("x.txt"), {"a"}), EFCreateError);
}

TEST_F(ListFileTest, MissingDirectoryRaisesCreateError) {
    try {
        SaveListFile(Path("no/such/dir.txt"), {"a"});
        FAIL();
    } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file \"" + Path("no/such/dir.txt") +
                                             "\". No such file or directory");
    }
}

// Runs `body` in a child process with the signals at their default
// dispositions, as the program gets them; gives how the child ended and what
// `body` returned (the text of the error it met, or "").
std::pair<int, std::string> InChild(const std::function<std::string()>& body) {
    int out[2];
    if (::pipe(out) != 0)
        return {-1, "pipe"};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(out[0]);
        std::signal(SIGXFSZ, SIG_DFL);
        std::string said;
        try {
            said = body();
        } catch (const std::exception& e) {
            said = e.what();
        }
        (void)!::write(out[1], said.data(), said.size());
        ::_exit(0);
    }
    ::close(out[1]);
    std::string said;
    char chunk[256];
    for (ssize_t n; (n = ::read(out[0], chunk, sizeof chunk)) > 0;) said.append(chunk, n);
    ::close(out[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return {status, said};
}

// The file-size limit reached while saving: the program lives on with the
// error, the old file is as it was, and no temporary file is left - both on
// the usual path and where the folder forces an overwrite in place.
TEST_F(ListFileTest, FileSizeLimitFailsTheSaveOnly) {
    const bool root = ::geteuid() == 0;
    for (const bool inPlace : {false, true}) {
        SCOPED_TRACE(inPlace ? "in place" : "through a temporary file");
        Write("keep.txt", "precious\r\n");
        if (inPlace && root)
            ::chown(Path("keep.txt").c_str(), kNobody, kNobody);
        if (inPlace)
            fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec |
                                      fs::perms::others_read | fs::perms::others_exec);
        const auto [status, said] = InChild([&] {
            if (inPlace && root && !BecomeNobody())
                return std::string("setuid");
            const rlimit small{4096, RLIM_INFINITY};
            ::setrlimit(RLIMIT_FSIZE, &small);
            SaveListFile(Path("keep.txt"), std::vector<Text>(1000, std::string(100, 'x')));
            return std::string();
        });
        fs::permissions(dir_, fs::perms::owner_all);
        EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_EQ(said, "Cannot create file \"" + Path("keep.txt") + "\". File too large");
        EXPECT_EQ(Read("keep.txt"), "precious\r\n");
        EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator{}), 1);
    }
}

// A folder that takes no new file, holding a file the user may write: the
// save overwrites that file, shorter or longer than before.
TEST_F(ListFileTest, FolderWithoutRoomForATemporaryFileIsSavedInPlace) {
    const bool root = ::geteuid() == 0;
    Write("log.txt", "a longer old content\r\n");
    if (root)
        ::chown(Path("log.txt").c_str(), kNobody, kNobody);
    fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read |
                              fs::perms::others_exec);
    const auto [status, said] = InChild([&] {
        if (root && !BecomeNobody())
            return std::string("setuid");
        SaveListFile(Path("log.txt"), {"new"});
        if (Read("log.txt") != "new\r\n")
            return "shorter: " + Read("log.txt");
        SaveListFile(Path("log.txt"), {std::string(100, 'y')});
        return std::string();
    });
    fs::permissions(dir_, fs::perms::owner_all);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(said, "");
    EXPECT_EQ(Read("log.txt"), std::string(100, 'y') + "\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator{}), 1);
}

// What is not a regular file is written into, never replaced by one.
TEST_F(ListFileTest, SavesIntoWhatIsNotARegularFile) {
    ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
    const auto isFifo = [&] { return fs::is_fifo(Path("fifo")); };
    try {
        SaveListFile(Path("fifo"), {"a"});
        ADD_FAILURE() << "a FIFO without a reader took the lines";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot create file \"" + Path("fifo") + "\". No such device or address");
    }
    EXPECT_TRUE(isFifo());

    const int reader = ::open(Path("fifo").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    SaveListFile(Path("fifo"), {"a", "b"});
    char got[16] = {};
    EXPECT_EQ(::read(reader, got, sizeof got), 6);
    EXPECT_EQ(std::string(got), "a\r\nb\r\n");
    ::close(reader);
    EXPECT_TRUE(isFifo());

    // Root gets nodes of its own: a faulty save must not replace the system's.
    const bool root = ::geteuid() == 0;
    const std::string null = root ? Path("null") : "/dev/null";
    const std::string full = root ? Path("full") : "/dev/full";
    if (root) {
        ASSERT_EQ(::mknod(null.c_str(), S_IFCHR | 0666, ::makedev(1, 3)), 0);
        ASSERT_EQ(::mknod(full.c_str(), S_IFCHR | 0666, ::makedev(1, 7)), 0);
    }
    SaveListFile(null, {"a"});
    EXPECT_TRUE(fs::is_character_file(null));
    try {
        SaveListFile(full, {"a"});
        ADD_FAILURE() << "/dev/full took the lines";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot create file \"" + full + "\". No space left on device");
    }
    EXPECT_TRUE(fs::is_character_file(full));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator{}), root ? 3 : 1);
}

// Streams and endless devices load at once and without waiting: up to the
// first NUL, up to what a stream holds now, never more than the bound.
TEST_F(ListFileTest, LoadNeverWaitsNorTakesMoreThanItsBound) {
    EXPECT_EQ(LoadListFile("/dev/zero"), std::vector<Text>{});
    EXPECT_LT(LoadListFile("/dev/urandom").size(), 4096u);

    ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
    EXPECT_EQ(LoadListFile(Path("fifo")), std::vector<Text>{}) << "no writer";
    const int reader = ::open(Path("fifo").c_str(), O_RDONLY | O_NONBLOCK);
    const int writer = ::open(Path("fifo").c_str(), O_WRONLY);
    ASSERT_EQ(::write(writer, "a\r\nb", 4), 4);
    EXPECT_EQ(LoadListFile(Path("fifo")), (std::vector<Text>{"a", "b"})) << "a writer left open";
    ASSERT_EQ(::write(writer, "0123456789", 10), 10);
    EXPECT_THROW(LoadListFile(Path("fifo"), 8), EFOpenError);
    ::close(writer);
    ::close(reader);

    const std::string tooLarge = "Cannot open file \"" + Path("big.txt") +
                                 "\". It is larger than the 1024 MiB a list may load.";
    Write("big.txt", "");
    fs::resize_file(Path("big.txt"), kListFileMaxBytes + 1);  // sparse: takes no room
    try {
        LoadListFile(Path("big.txt"));
        ADD_FAILURE() << "a file over the bound loaded";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(std::string(e.what()), tooLarge);
    }
    Write("nul.txt", std::string("a\r\n\0", 4) + std::string(100, 'x'));
    EXPECT_EQ(LoadListFile(Path("nul.txt"), 200), std::vector<Text>{"a"}) << "the NUL ends it";
}

TEST_F(ListFileTest, ReadOnlyFileIsNotReplaced) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may write a read-only file";
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
