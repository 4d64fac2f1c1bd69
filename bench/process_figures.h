#pragma once
// What the benchmarks read of their own process: CPU time and the voluntary
// context switches of all its threads (each one a wake-up after a sleep).

#include <dirent.h>
#include <sys/resource.h>

#include <fstream>
#include <string>

namespace tarvik::bench {

// User and system CPU of the whole process so far, in milliseconds.
inline double ProcessCpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// The voluntary context switches of every thread of the process so far.
inline long ProcessVoluntarySwitches() {
    long total = 0;
    DIR* dir = opendir("/proc/self/task");
    if (dir == nullptr)
        return 0;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        std::ifstream status(std::string("/proc/self/task/") + entry->d_name + "/status");
        std::string line;
        const std::string key = "voluntary_ctxt_switches:";
        while (std::getline(status, line)) {
            if (line.rfind(key, 0) == 0)
                total += std::stol(line.substr(key.size()));
        }
    }
    closedir(dir);
    return total;
}

}  // namespace tarvik::bench
