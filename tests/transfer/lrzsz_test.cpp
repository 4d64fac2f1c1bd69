// The engine against lrzsz on socat's pty pairs: every file arrives whole in
// both directions, damaged blocks are retried through, a cancel from either
// end ends cleanly and leaves the line usable.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "line_fixture.h"
#include "transfer/engine.h"
#include "transfer/fd_line.h"
#include "transfer/transfer_error.h"

namespace tarvik::transfer {
namespace {

using test::Peer;
using test::PtyPair;
using test::TempDir;
using test::JobFor;
using test::TestTimes;

const std::size_t kSizes[] = {0, 1, 127, 128, 129, 1024 * 1024};

// XMODEM carries no size: what arrives is the file and padding to its last block.
void ExpectPadded(const std::string& sent, const std::string& got, const std::string& what) {
    ASSERT_GE(got.size(), sent.size()) << what;
    EXPECT_EQ(got.substr(0, sent.size()), sent) << what;
    EXPECT_EQ(got.size() % 128, 0u) << what;
    EXPECT_LT(got.size() - sent.size(), 1024u) << what;
    EXPECT_EQ(got.find_first_not_of('\x1A', sent.size()), std::string::npos) << what;
}

using Fixture = test::LineFixture;
using LrzszTest = Fixture;

// One row a test, so that ctest runs them side by side.
struct Row {
    Mode mode;
    std::vector<std::string> peer;
    bool crc;
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.peer.front(); }

std::string RowName(const ::testing::TestParamInfo<Row>& info) {
    std::string name = std::string(ModeName(info.param.mode)) + "_" + info.param.peer.front();
    return name + (info.param.crc ? "_crc" : "_checksum");
}

struct OurSend : Fixture, ::testing::WithParamInterface<Row> {};
struct TheirSend : Fixture, ::testing::WithParamInterface<Row> {};

INSTANTIATE_TEST_SUITE_P(Lrzsz, OurSend,
                         ::testing::Values(Row{Mode::kXmodem, {"rx", "-b", "-c", "got.bin"}, true},
                                           Row{Mode::kXmodem, {"rx", "-b", "got.bin"}, false},
                                           Row{Mode::kXmodem1k, {"rx", "-b", "-c", "got.bin"}, true},
                                           Row{Mode::kYmodem, {"rb", "-b"}, true}),
                         RowName);
INSTANTIATE_TEST_SUITE_P(Lrzsz, TheirSend,
                         ::testing::Values(Row{Mode::kXmodem, {"sx", "-b"}, true},
                                           Row{Mode::kXmodem, {"sx", "-b"}, false},
                                           Row{Mode::kXmodem1k, {"sx", "-b", "-k"}, true},
                                           Row{Mode::kYmodem, {"sb", "-b"}, true}),
                         RowName);

TEST_P(OurSend, ArrivesWholeAtRxAndRb) {
    for (const auto& row : {GetParam()}) {
        for (const std::size_t size : kSizes) {
            const std::string what = std::string(ModeName(row.mode)) + " " + row.peer.back() +
                                     " " + std::to_string(size);
            SCOPED_TRACE(what);
            const std::string folder = Folder("rx-" + std::to_string(size) + row.peer.back() +
                                              ModeName(row.mode));
            const std::string name = "f" + std::to_string(size) + ".bin";
            const std::string sent = test::RandomBytes(size, static_cast<unsigned>(size));
            test::WriteFile(dir.File(name), sent);
            Peer peer(row.peer, pair.B(), folder);
            Job job;
            job.mode = row.mode;
            job.path = dir.File(name);
            job.modem = TestTimes();
            Outcome outcome;
            try {
                outcome = Engine(line).Run(job, {});
            } catch (const ETransfer& error) {
                ADD_FAILURE() << what << ": " << error.what();
                continue;
            }
            EXPECT_EQ(peer.Wait(), 0) << what;
            EXPECT_EQ(outcome.figures.bytes, size) << what;
            EXPECT_TRUE(outcome.figures.done) << what;
            if (row.mode == Mode::kYmodem)
                EXPECT_EQ(test::ReadFile(folder + "/" + name), sent) << what;
            else
                ExpectPadded(sent, test::ReadFile(folder + "/got.bin"), what);
        }
    }
}

TEST_P(TheirSend, ArrivesWholeHere) {
    for (const auto& row : {GetParam()}) {
        for (const std::size_t size : kSizes) {
            const std::string what = row.peer.front() + (row.crc ? " crc " : " sum ") +
                                     std::to_string(size);
            const std::string name = "f" + std::to_string(size) + ".bin";
            const std::string sent = test::RandomBytes(size, static_cast<unsigned>(size) + 7);
            test::WriteFile(dir.File(name), sent);
            std::vector<std::string> argv = row.peer;
            argv.push_back(dir.File(name));
            const std::string folder = Folder("in-" + std::to_string(size) + argv.front() +
                                              (row.crc ? "c" : "s"));
            Peer peer(argv, pair.B(), dir.Path());
            Job job;
            job.mode = row.mode;
            job.receive = true;
            job.modem = TestTimes();
            job.modem.crc = row.crc;
            job.path = row.mode == Mode::kYmodem ? folder : folder + "/got.bin";
            Outcome outcome;
            try {
                outcome = Engine(line).Run(job, {});
            } catch (const ETransfer& error) {
                ADD_FAILURE() << what << ": " << error.what();
                continue;
            }
            EXPECT_EQ(peer.Wait(), 0) << what;
            if (row.mode == Mode::kYmodem) {
                ASSERT_EQ(outcome.received.size(), 1u) << what;
                EXPECT_EQ(outcome.received[0], folder + "/" + name) << what;
                EXPECT_EQ(test::ReadFile(folder + "/" + name), sent) << what;
                EXPECT_EQ(test::ListFolder(folder), std::vector<std::string>{name}) << what;
            } else {
                ExpectPadded(sent, test::ReadFile(folder + "/got.bin"), what);
            }
        }
    }
}

TEST_F(LrzszTest, DamagedBlocksAreRetriedThrough) {
    PtyPair far(dir.Path(), "far");
    const int near = test::OpenRaw(pair.B());
    const int farEnd = test::OpenRaw(far.A());
    const std::string sent = test::RandomBytes(48 * 1024, 3);
    test::WriteFile(dir.File("f.bin"), sent);
    {
        // Ours through a relay that damages every 7th block, to rb.
        test::Relay relay(near, farEnd, test::Relay::Damage::kCorrupt, 7);
        const std::string folder = Folder("rb");
        Peer peer({"rb", "-b"}, far.B(), folder);
        Job job = JobFor(Mode::kYmodem, false, dir.File("f.bin"));
        const Outcome outcome = Engine(line).Run(job, {});
        EXPECT_EQ(peer.Wait(), 0);
        EXPECT_EQ(test::ReadFile(folder + "/f.bin"), sent);
        EXPECT_GT(relay.Damaged(), 0);
        EXPECT_GE(outcome.figures.retries, static_cast<std::uint64_t>(relay.Damaged()));
    }
    for (const auto damage : {test::Relay::Damage::kDrop, test::Relay::Damage::kCorrupt}) {
        // sb's blocks through a relay that drops or damages every 5th, to us.
        test::Relay relay(farEnd, near, damage, 5);
        const std::string folder = Folder(damage == test::Relay::Damage::kDrop ? "drop" : "bad");
        Peer peer({"sb", "-b", "-k", dir.File("f.bin")}, far.B(), dir.Path());
        Job job = JobFor(Mode::kYmodem, true, folder);
        job.modem.times.blockMs = 1000;  // a dropped block costs one wait
        const Outcome outcome = Engine(line).Run(job, {});
        EXPECT_EQ(peer.Wait(), 0);
        EXPECT_EQ(test::ReadFile(folder + "/f.bin"), sent);
        EXPECT_GT(relay.Damaged(), 0);
        EXPECT_GT(outcome.figures.retries, 0u);
    }
    close(near);
    close(farEnd);
}

TEST_F(LrzszTest, CancelFromEitherEndEndsCleanly) {
    const std::string sent = test::RandomBytes(4 * 1024 * 1024, 5);
    test::WriteFile(dir.File("big.bin"), sent);
    {
        // We cancel a send once it is under way: rb is told and gives up.
        const std::string folder = Folder("ours");
        Peer peer({"rb", "-b"}, pair.B(), folder);
        Job job = JobFor(Mode::kYmodem, false, dir.File("big.bin"));
        Engine engine(line);
        try {
            engine.Run(job, [&](const Progress& p) {
                if (p.bytes > 64 * 1024)
                    engine.Cancel();
            });
            ADD_FAILURE() << "the transfer was not cancelled";
        } catch (const ETransfer& error) {
            EXPECT_EQ(error.Code(), TransferCode::kCancelled) << error.what();
        }
        EXPECT_NE(peer.Wait(), 0);
        ExpectLineUsable();
    }
    {
        // We cancel a receive: no file is left, neither whole nor in part.
        const std::string folder = Folder("ours-in");
        Peer peer({"sb", "-b", dir.File("big.bin")}, pair.B(), dir.Path());
        Job job = JobFor(Mode::kYmodem, true, folder);
        Engine engine(line);
        EXPECT_THROW(engine.Run(job,
                                [&](const Progress& p) {
                                    if (p.bytes > 64 * 1024)
                                        engine.Cancel();
                                }),
                     ETransfer);
        EXPECT_NE(peer.Wait(), 0);
        EXPECT_TRUE(test::ListFolder(folder).empty());
        ExpectLineUsable();
    }
    {
        // The far end gives up while sending to us.
        const std::string folder = Folder("theirs");
        Peer peer({"sb", "-b", dir.File("big.bin")}, pair.B(), dir.Path());
        Job job = JobFor(Mode::kYmodem, true, folder);
        bool signalled = false;
        try {
            Engine(line).Run(job, [&](const Progress& p) {
                if (p.bytes > 64 * 1024 && !signalled) {
                    signalled = true;
                    kill(peer.Pid(), SIGINT);
                }
            });
            ADD_FAILURE() << "the transfer went on";
        } catch (const ETransfer& error) {
            EXPECT_TRUE(error.Code() == TransferCode::kCancelledByPeer ||
                        error.Code() == TransferCode::kNoAnswer)
                << error.what();
        }
        peer.Wait();
        EXPECT_TRUE(test::ListFolder(folder).empty());
        ExpectLineUsable();
    }
}

}  // namespace
}  // namespace tarvik::transfer
