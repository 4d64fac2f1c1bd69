// Bad input and faults on a real line, each row its own test: the transfer
// ends with its code and a message saying what happened, no file is left
// under the target's name (nor a temporary one beside it), and bytes pass
// both ways on the line after it, unless the line itself was lost.

#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <memory>

#include "line_fixture.h"
#include "transfer/transfer_error.h"

namespace tarvik::transfer {
namespace {

constexpr uid_t kNobody = 65534;  // to whom root's own files are closed
constexpr std::uint64_t kMidway = 64 * 1024;

struct FaultTest;

struct Fault {
    const char* name;
    std::function<Job(FaultTest&)> prepare;
    std::function<void(FaultTest&)> midway;  // once, when kMidway bytes have moved
    TransferCode code;
    const char* said;
    bool lineGone = false;
};

void PrintTo(const Fault& fault, std::ostream* out) { *out << fault.name; }

struct FaultTest : test::LineFixture, ::testing::WithParamInterface<Fault> {
    std::unique_ptr<test::Peer> peer;
    int far = -1;                  // the far end, when the test plays it
    std::function<void()> undo;    // what a row changed about this process
    std::string mounted;
    ~FaultTest() override {
        if (far >= 0)
            close(far);
        if (!mounted.empty())
            umount2(mounted.c_str(), MNT_DETACH);
    }

    std::string File() {
        const std::string path = dir.File("f.bin");
        test::WriteFile(path, test::RandomBytes(1024 * 1024, 9));
        return path;
    }
    // Our send of a MiB, to `receiver` when there is one.
    Job Send(Mode mode, const std::vector<std::string>& receiver = {}) {
        const Job job = test::JobFor(mode, false, File());
        if (!receiver.empty())
            peer = std::make_unique<test::Peer>(receiver, pair.B(), Folder("peer"));
        return job;
    }
    // Our receive into the folder "in" from `sender`'s send of a MiB.
    Job Receive(Mode mode, std::vector<std::string> sender = {}, const std::string& in = "in") {
        const std::string folder = Folder(in);
        if (!sender.empty()) {
            sender.push_back(File());
            peer = std::make_unique<test::Peer>(sender, pair.B(), dir.Path());
        }
        return test::JobFor(mode, true, mode == Mode::kYmodem ? folder : folder + "/got.bin");
    }
};

// The disk full: a small tmpfs of the test's own where it may mount one,
// else a file-size limit on this process (told by EFBIG, not by a signal).
void SmallDisk(FaultTest& t, const std::string& folder) {
    if (geteuid() == 0 && mount("tarvik-test", folder.c_str(), "tmpfs", 0, "size=64k") == 0) {
        t.mounted = folder;
        return;
    }
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 64 * 1024;
    setrlimit(RLIMIT_FSIZE, &small);
    const auto handler = signal(SIGXFSZ, SIG_IGN);
    t.undo = [old, handler] {
        setrlimit(RLIMIT_FSIZE, &old);
        signal(SIGXFSZ, handler);
    };
}

const Fault kFaults[] = {
    {"Missing", [](FaultTest& t) { return test::JobFor(Mode::kXmodem, false, t.dir.File("none")); },
     nullptr, TransferCode::kFile, "Cannot read file", false},
    {"Folder", [](FaultTest& t) { return test::JobFor(Mode::kRaw, false, t.dir.Path()); }, nullptr,
     TransferCode::kFile, "\": a folder", false},
    {"Fifo",
     [](FaultTest& t) {
         mkfifo(t.dir.File("fifo").c_str(), 0600);
         return test::JobFor(Mode::kText, false, t.dir.File("fifo"));
     },
     nullptr, TransferCode::kFile, "\": not a regular file", false},
    {"NoPermission",
     [](FaultTest& t) {
         Job job = t.Send(Mode::kRaw);
         chmod(job.path.c_str(), 0);
         if (geteuid() == 0 && seteuid(kNobody) == 0)  // root reads it anyway
             t.undo = [] { [[maybe_unused]] int back = seteuid(0); };
         return job;
     },
     nullptr, TransferCode::kFile, "Permission denied", false},
    {"ChangedWhileSent",
     [](FaultTest& t) { return t.Send(Mode::kXmodem1k, {"rx", "-b", "-c", "got.bin"}); },
     [](FaultTest& t) { test::WriteFile(t.dir.File("f.bin"), "shorter now"); },
     TransferCode::kFile, "changed while it was sent", false},
    {"ReceiverNeverStarts",
     [](FaultTest& t) {
         Job job = t.Send(Mode::kXmodem);
         job.modem.times.startMs = 500;
         return job;
     },
     nullptr, TransferCode::kNoAnswer, "The receiver did not start", false},
    {"ReceiverStopsAnswering",
     [](FaultTest& t) {
         Job job = t.Send(Mode::kXmodem1k);
         t.far = test::OpenRaw(t.pair.B());
         [[maybe_unused]] const ssize_t n = write(t.far, "C", 1);
         job.modem.times.answerMs = 200;
         job.modem.times.retries = 2;
         return job;
     },
     nullptr, TransferCode::kNoAnswer, "The receiver stopped answering (block 1 sent 3 times", false},
    {"SenderNeverStarts",
     [](FaultTest& t) {
         Job job = t.Receive(Mode::kXmodem);
         job.modem.times.startMs = 800;
         job.modem.times.startRetryMs = 200;
         return job;
     },
     nullptr, TransferCode::kNoAnswer, "The sender did not start", false},
    {"SenderVanishes",
     [](FaultTest& t) {
         Job job = t.Receive(Mode::kYmodem, {"sb", "-b", "-k"});
         job.modem.times.blockMs = 300;
         job.modem.times.retries = 2;
         return job;
     },
     [](FaultTest& t) { kill(t.peer->Pid(), SIGKILL); }, TransferCode::kNoAnswer,
     "The sender stopped sending", false},
    {"LineLostSending", [](FaultTest& t) { return t.Send(Mode::kYmodem, {"rb", "-b"}); },
     [](FaultTest& t) { t.pair.Cut(); }, TransferCode::kLine, "The line was lost", true},
    {"LineLostReceiving", [](FaultTest& t) { return t.Receive(Mode::kYmodem, {"sb", "-b", "-k"}); },
     [](FaultTest& t) { t.pair.Cut(); }, TransferCode::kLine, "The line was lost", true},
    {"DiskFull",
     [](FaultTest& t) {
         Job job = t.Receive(Mode::kYmodem, {"sb", "-b", "-k"}, "disk");
         SmallDisk(t, job.path);
         return job;
     },
     nullptr, TransferCode::kFile, "Cannot write the file received into", false},
    {"NoFolder", [](FaultTest& t) { return test::JobFor(Mode::kXmodem, true, t.dir.File("no/f")); },
     nullptr, TransferCode::kFile, "Cannot create a file beside", false},
};

INSTANTIATE_TEST_SUITE_P(Transfer, FaultTest, ::testing::ValuesIn(kFaults),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_P(FaultTest, EndsWithItsReasonLeavingNoFileAndTheLineUsable) {
    const Fault& fault = GetParam();
    const Job job = fault.prepare(*this);
    Engine engine(line);
    bool fired = false;
    try {
        engine.Run(job, [&](const Progress& p) {
            if (fault.midway && !fired && p.bytes >= kMidway) {
                fired = true;
                fault.midway(*this);
            }
        });
        ADD_FAILURE() << "the transfer ended well";
    } catch (const ETransfer& error) {
        EXPECT_EQ(error.Code(), fault.code) << error.what();
        EXPECT_NE(std::string(error.what()).find(fault.said), std::string::npos) << error.what();
    }
    if (undo)
        undo();
    EXPECT_EQ(fired, fault.midway != nullptr);
    if (job.receive) {
        // Nothing under the target's name, and no temporary file beside it.
        const std::string folder = job.mode == Mode::kYmodem ? job.path : dir.File("in");
        if (test::Exists(folder)) {
            EXPECT_EQ(test::ListFolder(folder), std::vector<std::string>{});
        }
        EXPECT_FALSE(test::Exists(job.path) && job.mode != Mode::kYmodem);
    }
    peer.reset();
    if (far >= 0)
        close(std::exchange(far, -1));
    if (!fault.lineGone)
        ExpectLineUsable();
}

}  // namespace
}  // namespace tarvik::transfer
