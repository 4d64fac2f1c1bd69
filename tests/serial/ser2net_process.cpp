#include "tests/serial/ser2net_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <fstream>
#include <thread>

namespace cport::testutil {

std::uint16_t FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof at;
    ::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&at), &len);
    ::close(fd);
    return ntohs(at.sin_port);
}

bool Listening(std::uint16_t port) {
    // From the kernel's table rather than by connecting: a connection would
    // make ser2net open the device.
    std::ifstream table("/proc/net/tcp");
    std::string line;
    char wanted[16];
    std::snprintf(wanted, sizeof wanted, ":%04X", port);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (state == "0A" && local.size() > 5 && local.substr(local.size() - 5) == wanted) {
            return true;
        }
    }
    return false;
}

Ser2net::Ser2net(std::string folder, std::string devicePath)
    : folder_(std::move(folder)), device_(devicePath) {
    rfcPort_ = FreeLoopbackPort();
    do {
        rawPort_ = FreeLoopbackPort();
    } while (rawPort_ == rfcPort_);
    config_ = folder_ + "/ser2net.yaml";
    std::ofstream yaml(config_);
    yaml << "connection: &rfc\n"
         << "  accepter: telnet(rfc2217),tcp,127.0.0.1," << rfcPort_ << "\n"
         << "  connector: serialdev," << devicePath << ",9600n81,local\n"
         << "connection: &raw\n"
         << "  accepter: tcp,127.0.0.1," << rawPort_ << "\n"
         << "  connector: serialdev," << devicePath << ",9600n81,local\n";
}

Ser2net::~Ser2net() {
    Stop();
}

bool Ser2net::Start() {
    Stop();
    pid_ = ::fork();
    if (pid_ == 0) {
        // Its chatter ("Unable to start mdns") is not the test's.
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        const std::string pidFile = folder_ + "/ser2net.pid";
        ::execlp("ser2net", "ser2net", "-n", "-c", config_.c_str(), "-P", pidFile.c_str(),
                 static_cast<char*>(nullptr));
        ::_exit(127);
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < until) {
        if (Listening(rawPort_) && Listening(rfcPort_)) {
            return true;
        }
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

bool Ser2net::WaitReleased() const {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path device = fs::canonical(device_, error);
    const auto holds = [&] {
        std::error_code e;
        for (fs::directory_iterator it("/proc/" + std::to_string(pid_) + "/fd", e), end;
             !e && it != end; it.increment(e)) {
            std::error_code linkError;
            if (fs::read_symlink(it->path(), linkError) == device) {
                return true;
            }
        }
        return false;
    };
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (pid_ > 0 && holds()) {
        if (std::chrono::steady_clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void Ser2net::Stop() {
    if (pid_ <= 0) {
        return;
    }
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

}  // namespace cport::testutil
