// tarvik2-run against tarvik-sim --reply on a pty: N request-response
// exchanges (default 10,000) run by Lua scripts, and the same exchanges by a
// plain C reader-writer on the same pty, the floor. The two take turns in
// ROUNDS rounds (default 10) of N/ROUNDS exchanges each, so that the changes
// of a shared machine's load meet both alike. Prints each one's exchanges per
// second over all rounds and the median of its rounds' response times p50
// and p99; the runner's response times come from its own summary (send
// completed to answer arrived), its time from its transcript (first request
// sent to last answer received: the exchanges, without the program's
// start-up, whose rate is printed beside).
//
// A third row runs the plain reader-writer again, spending between its
// exchanges as much more CPU time as the runner spent on each (the runner's
// CPU time over its run, less that of a run without exchanges, less the
// floor's own CPU time per exchange): what a program with that much more
// work per exchange reaches on this machine.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
    // The runner's whole run, start-up and exit included.
    double wholeRunPerSecond = 0;
    // The CPU time (user and system): the runner's over its whole run, the
    // plain reader-writer's over its exchanges, in µs.
    double cpuUs = 0;
};

const char kUsage[] =
    "usage: runner_bench [EXCHANGES] [ROUNDS]\n"
    "  EXCHANGES  request-response exchanges of each reader (default 10000)\n"
    "  ROUNDS     turns the plain C reader-writer and tarvik2-run take, EXCHANGES/ROUNDS\n"
    "             exchanges each (default 10)\n"
    "A third row is the plain C reader-writer spending as much more CPU time per exchange\n"
    "as the runner did.\n";

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

// Spends `us` µs of this thread's CPU time.
void SpendCpu(double us) {
    const auto cpuNowUs = [] {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return double(t.tv_sec) * 1e6 + double(t.tv_nsec) / 1e3;
    };
    const double until = cpuNowUs() + us;
    while (cpuNowUs() < until) {
    }
}

// The CPU time (user and system) of this process (RUSAGE_SELF) or of the
// children waited for so far (RUSAGE_CHILDREN), in µs.
double CpuUs(int who) {
    rusage usage{};
    getrusage(who, &usage);
    const auto us = [](const timeval& t) { return double(t.tv_sec) * 1e6 + double(t.tv_usec); };
    return us(usage.ru_utime) + us(usage.ru_stime);
}

// The floor: write the request, poll and read until the whole answer is in;
// `workUs` of CPU time spent after each answer.
Figures PlainExchanges(const std::string& path, int count, double workUs = 0) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        throw std::runtime_error("cannot open " + path);
    termios raw{};
    tcgetattr(fd, &raw);
    cfmakeraw(&raw);
    tcsetattr(fd, TCSANOW, &raw);
    std::vector<double> times;
    times.reserve(std::size_t(count));
    const double cpuBefore = CpuUs(RUSAGE_SELF);
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
        if (workUs > 0)
            SpendCpu(workUs);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpuUs = CpuUs(RUSAGE_SELF) - cpuBefore;
    close(fd);
    return {count / seconds, PercentileMs(times, 50), PercentileMs(times, 99), 0, cpuUs};
}

// "hh:mm:ss.mmm ..." → milliseconds of the day; -1 for a line without a time.
double MsOfDay(const std::string& line) {
    int h = 0, m = 0, s = 0, ms = 0;
    if (std::sscanf(line.c_str(), "%2d:%2d:%2d.%3d ", &h, &m, &s, &ms) != 4)
        return -1;
    return ((h * 60.0 + m) * 60.0 + s) * 1000.0 + ms;
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
    const double cpuBefore = CpuUs(RUSAGE_CHILDREN);
    const int status = std::system(command.c_str());
    const double cpuUs = CpuUs(RUSAGE_CHILDREN) - cpuBefore;
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::ifstream transcript(out);
    std::string line, summary;
    double firstSentMs = -1, lastReceivedMs = -1;
    while (std::getline(transcript, line)) {
        if (line.rfind("# q |", 0) == 0)
            summary = line;
        const double at = MsOfDay(line);
        if (at < 0 || line.find(" == ") != std::string::npos)
            continue;
        if (firstSentMs < 0 && line.find(" >> ") != std::string::npos)
            firstSentMs = at;
        else if (line.find(" >> ") == std::string::npos)
            lastReceivedMs = at;
    }
    std::remove(script.c_str());
    std::remove(out.c_str());
    if (count == 0)
        return {0, 0, 0, 0, cpuUs};
    if (status != 0 || summary.empty())
        throw std::runtime_error("the runner failed: " + summary);
    // "# q | N | passed | failed | timed out | min / median / p99 / max"
    std::vector<std::string> fields;
    std::stringstream split(summary);
    for (std::string field; std::getline(split, field, '|');) fields.push_back(field);
    double min = 0, median = 0, p99 = 0, max = 0;
    std::sscanf(fields.at(5).c_str(), " %lf / %lf / %lf / %lf", &min, &median, &p99, &max);
    double spanMs = lastReceivedMs - firstSentMs;
    if (spanMs < 0)
        spanMs += 24 * 3600 * 1000.0;  // past midnight
    // The stamps are whole milliseconds: at least one apart.
    return {count / (std::max(spanMs, 1.0) / 1000.0), median, p99, count / seconds, cpuUs};
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void PrintRow(const char* name, const Figures& figures) {
    std::printf("  %-22s %12.0f %10.3f %10.3f\n", name, figures.perSecond, figures.p50Ms,
                figures.p99Ms);
}

// A positive whole number from an argument, or 0.
int Count(const char* text) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && value > 0 && value <= 100000000 ? int(value) : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    const int count = argc > 1 ? Count(argv[1]) : 10000;
    const int rounds = argc > 2 ? Count(argv[2]) : 10;
    if (argc > 3 || count == 0 || rounds == 0 || rounds > count) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::string path;
    const pid_t simulator = StartSimulator(path);
    try {
        const int each = count / rounds;
        // The CPU time of a run without exchanges: its start-up and exit.
        std::vector<double> idleCpu;
        for (int i = 0; i < 3; ++i) idleCpu.push_back(RunnerExchanges(path, 0).cpuUs);
        const double startUpCpuUs = Median(idleCpu);
        double floorSeconds = 0, runnerSeconds = 0, runnerWholeSeconds = 0, workedSeconds = 0;
        std::vector<double> floorP50, floorP99, runnerP50, runnerP99, workedP50, workedP99, cpuUs;
        for (int round = 0; round < rounds; ++round) {
            const Figures floor = PlainExchanges(path, each);
            const Figures runner = RunnerExchanges(path, each);
            cpuUs.push_back(std::max(runner.cpuUs - startUpCpuUs - floor.cpuUs, 0.0) / each);
            const Figures worked = PlainExchanges(path, each, cpuUs.back());
            floorSeconds += each / floor.perSecond;
            runnerSeconds += each / runner.perSecond;
            runnerWholeSeconds += each / runner.wholeRunPerSecond;
            workedSeconds += each / worked.perSecond;
            floorP50.push_back(floor.p50Ms);
            floorP99.push_back(floor.p99Ms);
            runnerP50.push_back(runner.p50Ms);
            runnerP99.push_back(runner.p99Ms);
            workedP50.push_back(worked.p50Ms);
            workedP99.push_back(worked.p99Ms);
        }
        const int total = each * rounds;
        const Figures floor{total / floorSeconds, Median(floorP50), Median(floorP99)};
        const Figures runner{total / runnerSeconds, Median(runnerP50), Median(runnerP99)};
        const Figures worked{total / workedSeconds, Median(workedP50), Median(workedP99)};
        const double runnerCpuUs = Median(cpuUs);
        std::printf("%d exchanges each, in %d turns, with tarvik-sim --reply on %s\n", total,
                    rounds, path.c_str());
        std::printf("  %-22s %12s %10s %10s\n", "", "exchanges/s", "p50 ms", "p99 ms");
        PrintRow("plain C reader-writer", floor);
        PrintRow("tarvik2-run (Lua)", runner);
        char workedName[64];
        std::snprintf(workedName, sizeof workedName, "plain C + %.1f us of CPU", runnerCpuUs);
        PrintRow(workedName, worked);
        std::printf("runner / floor: %.2f of the rate, p50 %.1fx (with its start-ups: %.0f "
                    "exchanges/s)\n",
                    runner.perSecond / floor.perSecond, runner.p50Ms / floor.p50Ms,
                    total / runnerWholeSeconds);
        std::printf("the runner's CPU per exchange beyond the floor's: %.1f us; the plain C "
                    "reader-writer spending as much more: %.2f of the floor's rate, p50 %.1fx\n",
                    runnerCpuUs, worked.perSecond / floor.perSecond, worked.p50Ms / floor.p50Ms);
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
