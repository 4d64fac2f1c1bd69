#include "app/executable_dir.h"

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
