#include "serial/device/port_name.h"

#include <gtest/gtest.h>

namespace cport::device {
namespace {

TEST(PortName, DevicePath) {
    const std::pair<const char*, const char*> cases[] = {
        {"COM1", "/dev/ttyS0"},        {"COM12", "/dev/ttyS11"},    {"com3", "/dev/ttyS2"},
        {"\\\\.\\COM2", "/dev/ttyS1"}, {"COM0", "/dev/COM0"},       {"COM", "/dev/COM"},
        {"COM1A", "/dev/COM1A"},       {"ttyUSB0", "/dev/ttyUSB0"}, {"/dev/pts/3", "/dev/pts/3"},
        {"./link", "./link"},
    };
    for (const auto& [name, path] : cases) {
        EXPECT_EQ(DevicePath(name), path) << name;
    }
}

}  // namespace
}  // namespace cport::device
