#pragma once
// The benchmarks' data source: tarvik-sim as a child process streaming a
// known pattern, and the pty path it prints on its first line.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>
#include <string>

extern char** environ;

namespace bench {

struct Child {
    pid_t pid = -1;
    std::string path;
};

// Starts `tarvik-sim --stream bytes`; each block it receives starts the stream.
inline Child StartSimulator(std::uint64_t bytes) {
    int out[2];
    if (pipe(out) != 0)
        throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string count = std::to_string(bytes);
    char* argv[] = {const_cast<char*>(TARVIK_SIM_PATH), const_cast<char*>("--stream"),
                    const_cast<char*>(count.c_str()), nullptr};
    Child child;
    const int failed = posix_spawn(&child.pid, TARVIK_SIM_PATH, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (failed != 0) {
        close(out[0]);
        throw std::runtime_error("cannot start " TARVIK_SIM_PATH);
    }
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') child.path.push_back(c);
    close(out[0]);
    return child;
}

inline void StopSimulator(const Child& child) {
    kill(child.pid, SIGTERM);
    waitpid(child.pid, nullptr, 0);
}

}  // namespace bench
