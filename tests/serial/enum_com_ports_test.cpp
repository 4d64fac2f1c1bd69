#include "serial/ports/enum_com_ports.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "serial/error/com_error.h"

namespace cport {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<tarvik::Text>;

// A directory laid out like /sys/class/tty, removed at the end of the test.
class FakeTtyClass {
  public:
    FakeTtyClass() {
        std::string pattern = (fs::temp_directory_path() / "tarvik-tty-XXXXXX").string();
        root_ = mkdtemp(pattern.data());
        fs::create_directories(Dir());
        fs::create_directories(root_ / "devices");
    }
    ~FakeTtyClass() { fs::remove_all(root_); }

    std::string Dir() const { return (root_ / "class" / "tty").string(); }

    // An entry as real sysfs has it: a link into the device tree, whose
    // directory holds a `device` link when hardware stands behind it.
    void AddPort(const std::string& name, const char* uartType = nullptr) {
        const fs::path target = root_ / "devices" / name;
        fs::create_directories(target);
        fs::create_directory_symlink(root_ / "devices", target / "device");
        if (uartType != nullptr)
            std::ofstream(target / "type") << uartType << "\n";
        fs::create_directory_symlink(target, fs::path(Dir()) / name);
    }
    // A virtual terminal, console or pty master: no device.
    void AddVirtual(const std::string& name) { fs::create_directories(fs::path(Dir()) / name); }
    fs::path Entry(const std::string& name) const { return fs::path(Dir()) / name; }

  private:
    fs::path root_;
};

TEST(EnumComPorts, TextOrderWithoutRegardToCase) {
    FakeTtyClass tty;
    for (const char* name :
         {"COM2", "ttyUSB0", "COM10", "com3", "ttyB1", "ttya2", "ttyS0", "ttyACM0"})
        tty.AddPort(name);
    Names ports;
    EnumComPorts(ports, tty.Dir());
    EXPECT_EQ(ports,
              (Names{"COM10", "COM2", "com3", "ttya2", "ttyACM0", "ttyB1", "ttyS0", "ttyUSB0"}));
}

TEST(EnumComPorts, OnlyPortsWithARealDevice) {
    FakeTtyClass tty;
    tty.AddVirtual("console");
    tty.AddVirtual("ptmx");
    tty.AddVirtual("tty0");
    tty.AddPort("ttyS0", "4");      // a 16550A
    tty.AddPort("ttyS1", "0");      // a placeholder without a UART
    tty.AddPort("ttyS2", "  0\n");  // the same, however the number is padded
    tty.AddPort("ttyS3", "");       // unreadable type: better listed than hidden
    tty.AddPort("ttyUSB0");         // USB adapters have no UART type
    tty.AddPort("ttyXYZ!0");        // the kernel name "ttyXYZ/0"
    // A device link whose target has gone still marks a device.
    fs::create_directories(tty.Entry("ttyACM0"));
    fs::create_symlink("/nonexistent/tarvik", tty.Entry("ttyACM0") / "device");

    Names ports;
    EnumComPorts(ports, tty.Dir());
    EXPECT_EQ(ports, (Names{"ttyACM0", "ttyS0", "ttyS3", "ttyUSB0", "ttyXYZ/0"}));
}

TEST(EnumComPorts, EmptySourceReplacesTheList) {
    FakeTtyClass tty;
    tty.AddVirtual("tty0");
    Names ports{"stale"};
    EnumComPorts(ports, tty.Dir());
    EXPECT_TRUE(ports.empty());
}

TEST(EnumComPorts, UnreadableSourceRaisesRegistryErrorAndKeepsTheList) {
    FakeTtyClass tty;
    const std::string file = tty.Dir() + "/plain-file";
    std::ofstream(file) << "x";
    struct Row {
        std::string dir;
        int number;
    };
    std::vector<Row> rows = {{tty.Dir() + "/missing", ENOENT}, {file, ENOTDIR}};
    const std::string locked = tty.Dir() + "/locked";
    if (geteuid() != 0) {  // root reads a directory whatever its mode
        fs::create_directory(locked);
        fs::permissions(locked, fs::perms::none);
        rows.push_back({locked, EACCES});
    }
    for (const auto& row : rows) {
        SCOPED_TRACE(row.dir);
        Names ports{"ttyS0", "kept"};
        try {
            EnumComPorts(ports, row.dir);
            ADD_FAILURE() << "no error";
        } catch (const EComPort& e) {
            EXPECT_EQ(e.ErrorCode(), ecRegistry);
            EXPECT_EQ(e.WinErrorCode(), row.number);
            EXPECT_EQ(std::string(e.what()),
                      "Registry error (win error code: " + std::to_string(row.number) + ")");
        }
        EXPECT_EQ(ports, (Names{"ttyS0", "kept"}));
    }
    if (fs::exists(locked))
        fs::permissions(locked, fs::perms::owner_all);
}

TEST(EnumComPorts, NamesThatDifferOnlyInCaseHaveAFixedOrder) {
    Names a{"com1", "COM1", "Com1"};
    Names b{"Com1", "com1", "COM1"};
    SortPortNames(a);
    SortPortNames(b);
    EXPECT_EQ(a, b);
}

// The machine's own ports: nothing is assumed about the hardware, only that
// what comes back is sorted and backed by a device.
TEST(EnumComPorts, RealSysfs) {
    Names ports;
    ASSERT_NO_THROW(EnumComPorts(ports));
    Names sorted = ports;
    SortPortNames(sorted);
    EXPECT_EQ(ports, sorted);
    for (const auto& name : ports) {
        SCOPED_TRACE(name);
        std::string entry = name;  // a kernel "/" is "!" in sysfs
        std::replace(entry.begin(), entry.end(), '/', '!');
        EXPECT_TRUE(
            fs::exists(fs::symlink_status(std::string(kSysClassTty) + "/" + entry + "/device")));
        EXPECT_NE(name, "ptmx");
        EXPECT_NE(name, "console");
    }
}

}  // namespace
}  // namespace cport
