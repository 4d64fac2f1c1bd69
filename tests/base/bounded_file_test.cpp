// Every reader in the program's own process (the window's Load text and Show
// a capture, the ini file, the runner's history, the shared reader itself)
// against inputs without an end or a size to trust: each refuses or returns
// at once, and none grows the process by more than it may.

#include "base/bounded_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "base/list_file.h"
#include "capture/capture_load.h"
#include "runner/history_file.h"
#include "serial/store/ini_file.h"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

// The process's peak resident size since the last Reset, KiB.
class PeakMemory {
  public:
    static void Reset() { std::ofstream("/proc/self/clear_refs") << "5"; }
    static long KiB() {
        std::ifstream status("/proc/self/status");
        std::string word;
        while (status >> word) {
            if (word == "VmHWM:") {
                long kib = 0;
                status >> kib;
                return kib;
            }
        }
        return 0;
    }
};

class BoundedFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/tarvik-bounded-XXXXXX";
        ASSERT_NE(::mkdtemp(name), nullptr);
        dir_ = name;
    }
    void TearDown() override {
        for (int fd : fds_) ::close(fd);
        fs::remove_all(dir_);
    }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    fs::path dir_;
    std::vector<int> fds_;
};

TEST_F(BoundedFileTest, EveryReaderRefusesOrReturnsWithinItsBound) {
    ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(Path("held.fifo").c_str(), 0600), 0);
    fds_.push_back(::open(Path("held.fifo").c_str(), O_RDONLY | O_NONBLOCK));
    fds_.push_back(::open(Path("held.fifo").c_str(), O_WRONLY));  // a writer that never writes
    std::ofstream(Path("sparse")).close();
    fs::resize_file(Path("sparse"), 1'000'000'000);
    fs::create_directory(Path("folder"));

    const struct {
        const char* name;
        std::function<void(const std::string&)> read;
    } readers[] = {
        {"Load text", [](const std::string& f) { ReadListFile(f); }},
        {"Show a capture",
         [](const std::string& f) { capture::CaptureFile(f).ForEach([](auto&&) {}); }},
        {"replay's load", [](const std::string& f) { capture::LoadCapture(f); }},
        {"ini file", [](const std::string& f) { cport::TIniFile{f}; }},
        {"history",
         [](const std::string& f) { runner::ReadHistory(f, runner::HistoryOrder::FileOrder); }},
        {"shared reader",
         [](const std::string& f) { ReadBoundedFile(f, {.maxBytes = 16u << 20}); }},
    };
    for (const char* input : {"/dev/zero", "fifo", "held.fifo", "sparse", "folder"}) {
        const std::string file = *input == '/' ? std::string(input) : Path(input);
        for (const auto& reader : readers) {
            SCOPED_TRACE(std::string(reader.name) + " of " + input);
            PeakMemory::Reset();
            const long before = PeakMemory::KiB();
            std::string refusal;
            try {
                reader.read(file);
            } catch (const std::exception& error) {
                refusal = error.what();
            }
            EXPECT_LT(PeakMemory::KiB() - before, 200 * 1024) << refusal;
            if (std::string(input) == "folder") {
                EXPECT_NE(refusal.find("\"" + file + "\". It is a folder, not a file."),
                          std::string::npos)
                    << refusal;
            } else if (!refusal.empty()) {
                EXPECT_NE(refusal.find(file), std::string::npos) << refusal;
            }
        }
    }
}

// A stream is refused once it gives more than the bound, or once it gives
// nothing for the idle time while a writer holds it; a regular file over the
// bound before a byte is read. Each refusal names the file and the bound.
TEST_F(BoundedFileTest, RefusalsNameTheFileAndTheBound) {
    try {
        ReadBoundedFile("/dev/zero", {.maxBytes = 100000, .what = "a test may hold"});
        ADD_FAILURE() << "an endless stream was read";
    } catch (const EFileRead& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Cannot open file \"/dev/zero\". It is larger than the 100000 bytes a test "
                  "may hold.");
    }
    ASSERT_EQ(::mkfifo(Path("held.fifo").c_str(), 0600), 0);
    fds_.push_back(::open(Path("held.fifo").c_str(), O_RDONLY | O_NONBLOCK));
    fds_.push_back(::open(Path("held.fifo").c_str(), O_WRONLY));
    ASSERT_EQ(::write(fds_.back(), "ab", 2), 2);
    try {
        ReadBoundedFile(Path("held.fifo"),
                        {.maxBytes = 10, .streamIdle = std::chrono::milliseconds(50)});
        ADD_FAILURE() << "a stalled stream was waited on";
    } catch (const EFileRead& error) {
        EXPECT_EQ(error.Reason(),
                  "Nothing came from it for 50 ms (a stream is read only while it gives).");
    }
    std::ofstream(Path("big")) << std::string(2u << 20, 'x');
    EXPECT_EQ(ReadBoundedFile(Path("big"), {.maxBytes = 2u << 20}).size(), 2u << 20);
    try {
        ReadBoundedFile(Path("big"), {.maxBytes = 1u << 20, .what = "a script may hold"});
        ADD_FAILURE() << "a file over the bound was read";
    } catch (const EFileRead& error) {
        EXPECT_EQ(error.Reason(), "It is larger than the 1 MiB a script may hold.");
    }
}

}  // namespace
}  // namespace tarvik
