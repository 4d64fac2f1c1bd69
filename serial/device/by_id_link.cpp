#include "serial/device/by_id_link.h"

#include <filesystem>
#include <system_error>

namespace cport::device {

std::string ByIdLinkOf(const std::string& devicePath, const std::string& folder) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path node = fs::canonical(devicePath, error);
    if (error) {
        return {};
    }
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::error_code linkError;
        if (fs::canonical(it->path(), linkError) == node && !linkError) {
            return it->path().string();
        }
    }
    return {};
}

}  // namespace cport::device
