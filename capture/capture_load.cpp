#include "capture/capture_load.h"

#include <cerrno>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

#include "capture/capture_format.h"

namespace tarvik::capture {

std::vector<CaptureRecord> LoadCapture(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw std::system_error(errno, std::generic_category(), "Cannot open " + path);
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    if (file.bad())
        throw std::system_error(EIO, std::generic_category(), "Cannot read " + path);
    try {
        return ParseCapture(text);
    } catch (const ECaptureFormat& error) {
        throw std::runtime_error(path + ": " + error.what());
    }
}

}  // namespace tarvik::capture
