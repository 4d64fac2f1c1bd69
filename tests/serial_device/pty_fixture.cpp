#include "pty_fixture.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <thread>

namespace cport::device {

void PtyTest::SetUp() {
    char name[256] = {};
    ASSERT_EQ(openpty(&master_, &slave_, name, nullptr, nullptr), 0);
    path_ = name;
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

void PtyTest::TearDown() {
    if (master_ >= 0) {
        ::close(master_);
    }
    ::close(slave_);
}

void PtyTest::CloseMaster() {
    ::close(master_);
    master_ = -1;
}

void PtyTest::MasterWrite(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else {
            pollfd p{master_, POLLOUT, 0};
            ASSERT_GE(poll(&p, 1, 5000), 1) << "master does not take bytes";
        }
    }
}

std::string PtyTest::MasterRead(std::size_t count) {
    std::string got;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    char buffer[4096];
    while (got.size() < count && std::chrono::steady_clock::now() < until) {
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, 100) == 1) {
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n > 0) {
                got.append(buffer, static_cast<std::size_t>(n));
            }
        }
    }
    return got;
}

ComHandle PtyTest::OpenPort(const COMMTIMEOUTS& timeouts) {
    const ComHandle h = dev_.CreateFileA(path_);
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << "errno " << dev_.GetLastError();
    DCB dcb;
    dcb.BaudRate = 115200;
    EXPECT_TRUE(dev_.SetCommState(h, dcb)) << "errno " << dev_.GetLastError();
    EXPECT_TRUE(dev_.SetCommTimeouts(h, timeouts));
    return h;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace cport::device
