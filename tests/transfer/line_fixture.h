#pragma once
// A pty pair with the engine's line on one end, shared by the engine's tests.

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "peers.h"
#include "transfer/engine.h"
#include "transfer/fd_line.h"

namespace tarvik::transfer::test {

// Short enough for a test, long enough for a loaded machine.
inline XmodemOptions TestTimes() {
    XmodemOptions options;
    options.times.startMs = 15000;
    options.times.answerMs = 1500;
    options.times.blockMs = 3000;
    return options;
}

inline Job JobFor(Mode mode, bool receive, const std::string& path) {
    Job job;
    job.mode = mode;
    job.receive = receive;
    job.path = path;
    job.modem = TestTimes();
    return job;
}

struct LineFixture : ::testing::Test {
    TempDir dir;
    PtyPair pair{dir.Path()};
    int fd = OpenRaw(pair.A());
    FdLine line{fd, fd};
    ~LineFixture() override { close(fd); }

    std::string Folder(const std::string& name) {
        const std::string path = dir.File(name);
        mkdir(path.c_str(), 0700);
        return path;
    }

    // After a transfer ended, either way: bytes still pass both ways.
    void ExpectLineUsable() {
        const int far = OpenRaw(pair.B());
        FdLine other(far, far);
        std::string got;
        // Drop what a peer left on the line.
        while (other.Read(got, 4096, Clock::now() + std::chrono::milliseconds(100)) > 0) {
        }
        while (line.Read(got, 4096, Clock::now() + std::chrono::milliseconds(100)) > 0) {
        }
        for (FdLine* from : {&line, &other}) {
            FdLine* to = from == &line ? &other : &line;
            got.clear();
            from->Write("ping");
            const auto deadline = Clock::now() + std::chrono::seconds(10);
            while (got.size() < 4 && to->Read(got, 4096, deadline) > 0) {
            }
            EXPECT_EQ(got, "ping");
        }
        close(far);
    }
};

}  // namespace tarvik::transfer::test
