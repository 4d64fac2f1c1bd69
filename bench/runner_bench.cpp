// tarvik2-run against tarvik-sim --reply on a pty: N request-response
// exchanges (default 10,000) run by a Lua script, and the same exchanges by a
// plain C reader-writer on the same pty in the same run, the floor. Prints
// exchanges per second and the response times p50/p99 of both; the runner's
// come from its own summary (send completed to answer arrived).

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
const std::string kReply = "\x06OK";

struct Figures {
    double perSecond = 0;
    double p50Ms = 0;
    double p99Ms = 0;
};

// tarvik-sim --reply with its pty path.
pid_t StartSimulator(std::string& path) {
    int out[2];
    if (pipe(out) != 0)
        throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char* argv[] = {const_cast<char*>(TARVIK_SIM_PATH), const_cast<char*>("--reply"),
                    const_cast<char*>("\\x06OK"), nullptr};
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, TARVIK_SIM_PATH, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (failed != 0)
        throw std::runtime_error("cannot start " TARVIK_SIM_PATH);
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') path.push_back(c);
    close(out[0]);
    return pid;
}

double PercentileMs(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(p / 100.0 * double(values.size()) + 0.999999);
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

// The floor: write the request, poll and read until the whole answer is in.
Figures PlainExchanges(const std::string& path, int count) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        throw std::runtime_error("cannot open " + path);
    termios raw{};
    tcgetattr(fd, &raw);
    cfmakeraw(&raw);
    tcsetattr(fd, TCSANOW, &raw);
    std::vector<double> times;
    times.reserve(std::size_t(count));
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        if (write(fd, "Q", 1) != 1)
            throw std::runtime_error("write");
        const auto sent = Clock::now();
        std::size_t got = 0;
        char buffer[64];
        while (got < kReply.size()) {
            pollfd p{fd, POLLIN, 0};
            poll(&p, 1, 1000);
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n <= 0)
                throw std::runtime_error("no answer");
            got += std::size_t(n);
        }
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    close(fd);
    return {count / seconds, PercentileMs(times, 50), PercentileMs(times, 99)};
}

// The runner: one Lua loop; its summary line "# q | count | ... | min / median / p99 / max".
Figures RunnerExchanges(const std::string& path, int count) {
    const std::string script = "/tmp/runner_bench_" + std::to_string(getpid()) + ".lua";
    const std::string out = script + ".out";
    std::ofstream(script) << "for i = 1, " << count
                          << " do send('\"Q\"') expect('0x06 \"OK\"', {name = 'q'}) end\n";
    const std::string command =
        std::string(TARVIK_RUN_PATH) + " --script " + script + " " + path + " > " + out;
    const auto start = Clock::now();
    const int status = std::system(command.c_str());
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::ifstream transcript(out);
    std::string line, summary;
    while (std::getline(transcript, line)) {
        if (line.rfind("# q |", 0) == 0)
            summary = line;
    }
    std::remove(script.c_str());
    std::remove(out.c_str());
    if (status != 0 || summary.empty())
        throw std::runtime_error("the runner failed: " + summary);
    // "# q | N | passed | failed | timed out | min / median / p99 / max"
    std::vector<std::string> fields;
    std::stringstream split(summary);
    for (std::string field; std::getline(split, field, '|');) fields.push_back(field);
    double min = 0, median = 0, p99 = 0, max = 0;
    std::sscanf(fields.at(5).c_str(), " %lf / %lf / %lf / %lf", &min, &median, &p99, &max);
    return {count / seconds, median, p99};
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    std::string path;
    const pid_t simulator = StartSimulator(path);
    try {
        const Figures floor = PlainExchanges(path, count);
        const Figures runner = RunnerExchanges(path, count);
        std::printf("%d exchanges with tarvik-sim --reply on %s\n", count, path.c_str());
        std::printf("%-22s %12s %10s %10s\n", "", "exchanges/s", "p50 ms", "p99 ms");
        std::printf("%-22s %12.0f %10.3f %10.3f\n", "plain C reader-writer", floor.perSecond,
                    floor.p50Ms, floor.p99Ms);
        std::printf("%-22s %12.0f %10.3f %10.3f\n", "tarvik2-run (Lua)", runner.perSecond,
                    runner.p50Ms, runner.p99Ms);
        std::printf("runner / floor: %.2f of the rate\n", runner.perSecond / floor.perSecond);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "runner_bench: %s\n", error.what());
        kill(simulator, SIGTERM);
        waitpid(simulator, nullptr, 0);
        return 1;
    }
    kill(simulator, SIGTERM);
    waitpid(simulator, nullptr, 0);
    return 0;
}
