// Who a port is: a USB adapter in a sysfs tree built in a temporary folder
// (whole and half there, and what a lost one is waited for by), the
// machine's own ttyS0 and a real pty, and the access verdict from a node's
// stat data.

#include "serial/ports/port_info.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "serial/ports/awaited_device.h"

namespace cport {
namespace {

namespace fs = std::filesystem;

// /sys and /dev in small: class/tty, devices, bus, dev, dev/serial/by-id.
class FakeSystem {
  public:
    FakeSystem() {
        std::string pattern = (fs::temp_directory_path() / "tarvik-sys-XXXXXX").string();
        root_ = mkdtemp(pattern.data());
        for (const char* dir :
             {"sys/class/tty", "sys/bus/usb-serial/drivers/ftdi_sio", "dev/serial/by-id", "proc"})
            fs::create_directories(root_ / dir);
        Write("proc/cmdline", "quiet console=ttyS1,115200n8 -- console=ttyUSB0\n");
        Write("proc/consoles", "");
    }
    ~FakeSystem() { fs::remove_all(root_); }

    PortInfoSources Sources() const {
        PortInfoSources s;
        s.ttyClassDir = (root_ / "sys/class/tty").string();
        s.devDir = (root_ / "dev").string();
        s.byIdDir = (root_ / "dev/serial/by-id").string();
        s.kernelCommandLine = (root_ / "proc/cmdline").string();
        s.procConsoles = (root_ / "proc/consoles").string();
        return s;
    }
    void Write(const std::string& relative, const std::string& text) {
        fs::create_directories((root_ / relative).parent_path());
        std::ofstream(root_ / relative) << text;
    }
    void LinkClassEntry(const std::string& name, const fs::path& device) {
        const fs::path entry = root_ / "sys/class/tty" / name;
        fs::create_directories(entry);
        fs::create_directory_symlink(device, entry / "device");
    }
    fs::path Root() const { return root_; }

  private:
    fs::path root_;
};

// What a port that lost its line waits for: a USB adapter by its by-id name
// while udev gives one, else by its vendor, product and serial number at its
// path, so that another adapter that gets ttyUSB0 is not taken for it.
TEST(AwaitedDeviceTest, AUsbAdapterIsKnownByItsIdentityNotItsName) {
    FakeSystem sys;
    const fs::path usb = sys.Root() / "sys/devices/pci0/usb1/1-1";
    fs::create_directories(usb / "1-1:1.0/ttyUSB0");
    sys.Write("sys/devices/pci0/usb1/1-1/idVendor", "0403\n");
    sys.Write("sys/devices/pci0/usb1/1-1/idProduct", "6001\n");
    sys.Write("sys/devices/pci0/usb1/1-1/serial", "A50285BI\n");
    sys.LinkClassEntry("ttyUSB0", usb / "1-1:1.0/ttyUSB0");
    sys.Write("dev/ttyUSB0", "");
    const fs::path byId = sys.Root() / "dev/serial/by-id/usb-FTDI_FT232R_A50285BI-if00-port0";
    fs::create_symlink("../../ttyUSB0", byId);
    const std::string node = (sys.Root() / "dev/ttyUSB0").string();

    AwaitedDevice awaited = AwaitDevice("ttyUSB0", sys.Sources());
    EXPECT_EQ(awaited.kind, AwaitedDevice::Kind::kById);
    EXPECT_EQ(DescribeAwaited(awaited), "waiting for " + byId.string() + " to return");

    fs::remove(byId);  // no udev
    awaited = AwaitDevice("ttyUSB0", sys.Sources());
    EXPECT_EQ(awaited.kind, AwaitedDevice::Kind::kUsb);
    EXPECT_EQ(awaited.path, node);
    EXPECT_EQ(DescribeAwaited(awaited),
              "waiting for USB device 0403:6001 serial A50285BI at " + node);
    EXPECT_TRUE(HasReturned(awaited, sys.Sources()));
    sys.Write("sys/devices/pci0/usb1/1-1/serial", "B7731C\n");  // another adapter took the name
    EXPECT_FALSE(HasReturned(awaited, sys.Sources()));
    sys.Write("sys/devices/pci0/usb1/1-1/serial", "A50285BI\n");
    fs::remove(node);
    EXPECT_FALSE(HasReturned(awaited, sys.Sources()));
}

TEST(PortInfo, UsbAdapterFromSysfsWholeAndHalf) {
    FakeSystem sys;
    const fs::path usb = sys.Root() / "sys/devices/pci0/usb1/1-1";
    fs::create_directories(usb / "1-1:1.0/ttyUSB0");
    fs::create_directory_symlink(sys.Root() / "sys/bus/usb-serial/drivers/ftdi_sio",
                                 usb / "1-1:1.0/ttyUSB0/driver");
    sys.Write("sys/devices/pci0/usb1/1-1/idVendor", "0403\n");
    sys.Write("sys/devices/pci0/usb1/1-1/idProduct", "6001\n");
    sys.Write("sys/devices/pci0/usb1/1-1/manufacturer", "FTDI\n");
    sys.Write("sys/devices/pci0/usb1/1-1/product", "FT232R USB UART\n");
    sys.Write("sys/devices/pci0/usb1/1-1/serial", "A50285BI\n");
    sys.LinkClassEntry("ttyUSB0", usb / "1-1:1.0/ttyUSB0");
    sys.Write("dev/ttyUSB0", "");
    fs::permissions(sys.Root() / "dev/ttyUSB0", fs::perms(0660));
    fs::create_symlink(
        "../../ttyUSB0",
        sys.Root() / "dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");

    const PortInfo info = DescribePort("ttyUSB0", sys.Sources());
    EXPECT_TRUE(info.inSysfs);
    EXPECT_EQ(info.sysName, "ttyUSB0");
    EXPECT_EQ(info.driver, "ftdi_sio");
    EXPECT_EQ(info.vendorId, 0x0403);
    EXPECT_EQ(info.productId, 0x6001);
    EXPECT_EQ(info.manufacturer, "FTDI");
    EXPECT_EQ(info.product, "FT232R USB UART");
    EXPECT_EQ(info.serialNumber, "A50285BI");
    EXPECT_EQ(
        info.byIdPath,
        (sys.Root() / "dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0").string());
    EXPECT_FALSE(info.isConsole);  // console= after "--" is for init, not the kernel
    sys.Write("sys/class/tty/console/active", "tty0 ttyUSB0\n");
    EXPECT_TRUE(DescribePort("ttyUSB0", sys.Sources()).isConsole);
    EXPECT_TRUE(info.access.exists);
    EXPECT_EQ(info.access.mode, 0660u);

    // Half there: the product is unreadable, the ids are garbage, a second
    // tty's device link leads nowhere, a third has no node at all.
    fs::remove(usb / "product");
    fs::create_directory(usb / "product");
    sys.Write("sys/devices/pci0/usb1/1-1/idVendor", "zz\n");
    const PortInfo half = DescribePort("ttyUSB0", sys.Sources());
    EXPECT_EQ(half.product, "");
    EXPECT_EQ(half.vendorId, -1);
    EXPECT_EQ(half.productId, 0x6001);
    EXPECT_EQ(half.serialNumber, "A50285BI");

    sys.LinkClassEntry("ttyUSB1", usb / "gone/ttyUSB1");
    const PortInfo dangling = DescribePort("ttyUSB1", sys.Sources());
    EXPECT_TRUE(dangling.inSysfs);
    EXPECT_EQ(dangling.driver, "");
    EXPECT_EQ(dangling.vendorId, -1);
    EXPECT_FALSE(dangling.access.exists);
    EXPECT_EQ(dangling.byIdPath, "");
    EXPECT_FALSE(dangling.isConsole);
}

TEST(PortInfo, ConsolesFromEverySource) {
    FakeSystem sys;
    sys.Write("sys/class/tty/console/active", "tty0 ttyS2\n");
    sys.Write("proc/consoles", "ttyS3                -W- (EC  p a)    4:67\n");
    EXPECT_EQ(KernelConsoles(sys.Sources()),
              (std::vector<std::string>{"ttyS1", "tty0", "ttyS2", "ttyS3"}));
}

TEST(PortInfo, MachinesOwnTtyAndAPty) {
    // ttyS0 is this kind of machine's console; it is described, never opened.
    if (fs::exists("/sys/class/tty/ttyS0/device")) {
        const PortInfo serial = DescribePort("ttyS0");
        EXPECT_TRUE(serial.inSysfs);
        EXPECT_FALSE(serial.driver.empty());
        EXPECT_EQ(serial.vendorId, -1);
        EXPECT_EQ(serial.devicePath, "/dev/ttyS0");
        const auto consoles = KernelConsoles();
        EXPECT_EQ(serial.isConsole,
                  std::find(consoles.begin(), consoles.end(), "ttyS0") != consoles.end());
    }
    int master = -1;
    int slave = -1;
    char name[256] = {};
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    const PortInfo pty = DescribePort(name);
    EXPECT_FALSE(pty.inSysfs);
    EXPECT_EQ(pty.devicePath, name);
    EXPECT_EQ(pty.driver, "");
    EXPECT_FALSE(pty.isConsole);
    EXPECT_TRUE(pty.access.exists);
    EXPECT_TRUE(pty.access.mayOpen);
    ::close(master);
    ::close(slave);

    const PortInfo gone = DescribePort("ttyNoSuchPort7");
    EXPECT_FALSE(gone.access.exists);
    EXPECT_FALSE(gone.inSysfs);
}

TEST(PortInfo, AccessVerdictFromStatData) {
    struct stat node {};
    node.st_mode = S_IFCHR | 0660;
    node.st_uid = 0;
    node.st_gid = 20;
    struct Row {
        uid_t user;
        std::vector<gid_t> groups;
        bool listed;
        bool inGroup;
        bool mayOpen;
    };
    const Row rows[] = {
        {1000, {1000}, false, false, false},    // not in dialout
        {1000, {1000}, true, false, false},     // added, not logged in again
        {1000, {1000, 20}, false, true, true},  // in dialout
        {0, {0}, false, false, true},           // root passes anyway
    };
    for (const Row& row : rows) {
        const NodeAccess access = JudgeNodeAccess(node, row.user, row.groups, row.listed);
        EXPECT_EQ(access.inGroup, row.inGroup);
        EXPECT_EQ(access.listedInGroup, row.listed || row.inGroup);
        EXPECT_EQ(access.mayOpen, row.mayOpen) << row.user;
    }
    node.st_mode = S_IFCHR | 0666;
    EXPECT_TRUE(JudgeNodeAccess(node, 1000, {1000}, false).mayOpen);
    node.st_uid = 1000;
    node.st_mode = S_IFCHR | 0600;
    EXPECT_TRUE(JudgeNodeAccess(node, 1000, {1000}, false).mayOpen);
}

}  // namespace
}  // namespace cport
