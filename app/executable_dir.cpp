#include "app/executable_dir.h"

#include <unistd.h>

#include <filesystem>

namespace tarvik {

std::string ExecutableDir() {
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return std::filesystem::current_path(error).string();
    return exe.parent_path().string();
}

}  // namespace tarvik

namespace tarvik {

std::string DialogStartDir(const std::string& executableDir) {
    if (access(executableDir.c_str(), W_OK | X_OK) == 0)
        return executableDir;
    std::error_code error;
    const std::string working = std::filesystem::current_path(error).string();
    return error ? executableDir : working;
}

}  // namespace tarvik
