#include "serial/device/port_name.h"

#include <cctype>

namespace cport::device {

std::string DevicePath(const std::string& portName) {
    std::string name = portName;
    if (name.rfind("\\\\.\\", 0) == 0) {
        name.erase(0, 4);
    }
    if (name.find('/') != std::string::npos) {
        return name;
    }
    const auto upper = [](char c) {
        return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    };
    if (name.size() > 3 && upper(name[0]) == 'C' && upper(name[1]) == 'O' &&
        upper(name[2]) == 'M' && name[3] != '0' && name.size() <= 12) {
        bool digits = true;
        unsigned long n = 0;
        for (std::size_t i = 3; i < name.size(); ++i) {
            digits = digits && std::isdigit(static_cast<unsigned char>(name[i])) != 0;
            n = n * 10 + static_cast<unsigned long>(name[i] - '0');
        }
        if (digits) {
            return "/dev/ttyS" + std::to_string(n - 1);
        }
    }
    return "/dev/" + name;
}

}  // namespace cport::device
