// Storing and loading a port's settings through an ini file and the registry.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "counting_port.h"
#include "serial/port/com_buffer.h"
#include "serial/port/com_conversions.h"
#include "serial/port/com_flow_control.h"
#include "serial/port/com_parity.h"
#include "serial/port/com_timeouts.h"
#include "serial/store/ini_file.h"
#include "serial/store/registry.h"
#include "storage_test_util.h"
#include "termios2_probe.h"

namespace cport {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;
using testutil::CountingPort;
using testutil::ReadFile;
using testutil::ReadTerminalLine;
using testutil::TempFolder;
using testutil::WriteFile;
using Calls = std::vector<std::string>;
using Settings = std::map<std::string, std::string>;

using testutil::kKey;

// Every stored setting of a port, by key name, as text; compared whole so
// that a setting changed by mistake shows up.
Settings SettingsOf(const TCustomComPort& port) {
    const auto& parity = port.Parity();
    const auto& flow = port.FlowControl();
    const auto& buffer = port.Buffer();
    const auto& timeouts = port.Timeouts();
    auto n = [](std::int32_t v) { return std::to_string(v); };
    return {
        {"Port", port.Port()},
        {"BaudRate", BaudRateToText(port.BaudRate())},
        {"CustomBaudRate", n(port.CustomBaudRate())},
        {"StopBits", StopBitsToText(port.StopBits())},
        {"DataBits", DataBitsToText(port.DataBits())},
        {"Parity", ParityToText(parity.Bits())},
        {"EventChar", CharToText(port.EventChar())},
        {"DiscardNull", BoolToText(port.DiscardNull())},
        {"Parity.Check", BoolToText(parity.Check())},
        {"Parity.Replace", BoolToText(parity.Replace())},
        {"Parity.ReplaceChar", CharToText(parity.ReplaceChar())},
        {"Buffer.OutputSize", n(buffer.OutputSize())},
        {"Buffer.InputSize", n(buffer.InputSize())},
        {"Timeouts.ReadInterval", n(timeouts.ReadInterval())},
        {"Timeouts.ReadTotalConstant", n(timeouts.ReadTotalConstant())},
        {"Timeouts.ReadTotalMultiplier", n(timeouts.ReadTotalMultiplier())},
        {"Timeouts.WriteTotalConstant", n(timeouts.WriteTotalConstant())},
        {"Timeouts.WriteTotalMultiplier", n(timeouts.WriteTotalMultiplier())},
        {"FlowControl.ControlRTS", RTSControlToText(flow.ControlRTS())},
        {"FlowControl.ControlDTR", DTRControlToText(flow.ControlDTR())},
        {"FlowControl.DSRSensitivity", BoolToText(flow.DSRSensitivity())},
        {"FlowControl.OutCTSFlow", BoolToText(flow.OutCTSFlow())},
        {"FlowControl.OutDSRFlow", BoolToText(flow.OutDSRFlow())},
        {"FlowControl.TxContinueOnXoff", BoolToText(flow.TxContinueOnXoff())},
        {"FlowControl.XonXoffIn", BoolToText(flow.XonXoffIn())},
        {"FlowControl.XonXoffOut", BoolToText(flow.XonXoffOut())},
        {"FlowControl.XoffChar", CharToText(flow.XoffChar())},
        {"FlowControl.XonChar", CharToText(flow.XonChar())},
    };
}

// The key names of an ini file in file order.
std::vector<std::string> KeysOf(const std::string& iniText) {
    std::vector<std::string> keys;
    std::size_t at = 0;
    while (at < iniText.size()) {
        std::size_t end = iniText.find('\n', at);
        std::string line = iniText.substr(at, end - at);
        if (auto equals = line.find('='); equals != std::string::npos)
            keys.push_back(line.substr(0, equals));
        at = end == std::string::npos ? iniText.size() : end + 1;
    }
    return keys;
}

// ---- A pseudo-terminal as a port's line, and what its kernel side holds.

// The test keeps the master and a slave descriptor of its own, opened before
// a port takes the line's exclusive lock, to read the terminal settings.
class PtyLine {
  public:
    PtyLine() {
        char name[256] = {};
        EXPECT_EQ(::openpty(&master_, &slave_, name, nullptr, nullptr), 0);
        path_ = name;
    }
    ~PtyLine() {
        ::close(slave_);
        ::close(master_);
    }
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    const std::string& Path() const { return path_; }
    int Slave() const { return slave_; }

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

// The terminal settings a port's line settings show up in on a pty (its
// driver keeps no data size or parity); compared whole.
struct KernelView {
    unsigned speed = 9600;
    bool twoStopBits = false;   // CSTOPB
    bool rtsCts = false;        // CRTSCTS
    bool xonXoffOut = false;    // IXON
    bool xonXoffIn = false;     // IXOFF
    bool parityCheck = false;   // INPCK with PARMRK
    unsigned char xon = 0x11;   // VSTART
    unsigned char xoff = 0x13;  // VSTOP

    bool operator==(const KernelView&) const = default;
};

void PrintTo(const KernelView& v, std::ostream* out) {
    *out << "{speed " << v.speed << ", CSTOPB " << v.twoStopBits << ", CRTSCTS " << v.rtsCts
         << ", IXON " << v.xonXoffOut << ", IXOFF " << v.xonXoffIn << ", INPCK|PARMRK "
         << v.parityCheck << ", VSTART " << int(v.xon) << ", VSTOP " << int(v.xoff) << "}";
}

KernelView KernelViewOf(const PtyLine& line) {
    const testutil::TerminalLine got = ReadTerminalLine(line.Slave());
    EXPECT_TRUE(got.ok);
    EXPECT_EQ(got.inSpeed, got.outSpeed);
    return {got.outSpeed,
            (got.cflag & CSTOPB) != 0,
            (got.cflag & CRTSCTS) != 0,
            (got.iflag & IXON) != 0,
            (got.iflag & IXOFF) != 0,
            (got.iflag & (INPCK | PARMRK)) == (INPCK | PARMRK),
            got.startChar,
            got.stopChar};
}

// ---- The two stores, each opened and closed the way a caller would.

struct Store {
    const char* name;
    std::function<void(TCustomComPort&, const TempFolder&)> save;
    std::function<void(TCustomComPort&, const TempFolder&)> load;
};

const Store kIni{"Ini",
                 [](TCustomComPort& port, const TempFolder& folder) {
                     TIniFile ini(folder / "ports.ini");
                     port.StoreIniFile(ini);
                     ini.UpdateFile();
                 },
                 [](TCustomComPort& port, const TempFolder& folder) {
                     TIniFile ini(folder / "ports.ini");
                     port.LoadIniFile(ini);
                 }};

const Store kRegistry{"Registry",
                      [](TCustomComPort& port, const TempFolder& folder) {
                          TRegistry reg(folder / "registry.sqlite");
                          ASSERT_TRUE(reg.OpenKey(kKey, true));
                          port.StoreRegistry(reg);
                      },
                      [](TCustomComPort& port, const TempFolder& folder) {
                          TRegistry reg(folder / "registry.sqlite");
                          ASSERT_TRUE(reg.OpenKeyReadOnly(kKey));
                          port.LoadRegistry(reg);
                      }};

// ---- The ports a load lands on. A port on a pseudo-terminal gives no call
// list; what reached its device is read back from the terminal instead.

struct LoadedPort {
    std::shared_ptr<PtyLine> line;  // declared first: outlives the port that has it open
    std::unique_ptr<TCustomComPort> port;
    const Calls* calls = nullptr;  // what reached the device, if it is counted
};

struct PortKind {
    const char* name;
    bool open;
    bool pty;
    std::function<LoadedPort()> make;
};

LoadedPort MakeCountingPort(bool open) {
    auto port = std::make_unique<CountingPort>();
    port->setObjectName("C1");
    if (open)
        port->OpenQuietly();
    const Calls* calls = &port->calls;
    return {nullptr, std::move(port), calls};
}

// A real port, opened on a fresh pty, without the event thread.
LoadedPort MakePtyPort() {
    auto line = std::make_shared<PtyLine>();
    auto port = std::make_unique<TComPort>();
    port->setObjectName("C1");
    port->SetEvents({});
    port->SetPort(line->Path());
    port->Open();
    return {std::move(line), std::move(port), nullptr};
}

const PortKind kClosedPort{"Closed", false, false, [] { return MakeCountingPort(false); }};
const PortKind kOpenPort{"Open", true, false, [] { return MakeCountingPort(true); }};
const PortKind kPtyPort{"Pty", true, true, MakePtyPort};

// ---- Per group: values other than the initial ones, what loading them
// onto an open port with initial settings hands to the device, and how they
// change what a pty's terminal holds.

struct GroupValues {
    TStoredGroup group;
    std::function<void(TCustomComPort&)> set;
    Calls onOpenPort;
    std::function<void(KernelView&)> onPty;
};

const std::vector<GroupValues>& Groups() {
    static const std::vector<GroupValues> groups{
        {sgBasic,
         [](TCustomComPort& p) {
             p.SetPort("ttyUSB3");
             p.SetBaudRate(brCustom);
             p.SetCustomBaudRate(250000);
             p.SetStopBits(sbTwoStopBits);
             p.SetDataBits(dbSeven);
             p.Parity().SetBits(prEven);
             p.FlowControl().SetFlowControl(fcHardware);
         },
         // A new name reopens; the preset re-applies even unchanged fields.
         {"close", "open ttyUSB3", "dcb", "dcb", "dcb", "dcb", "dcb", "dcb"},
         [](KernelView& k) {
             k.speed = 250000;
             k.twoStopBits = true;
             k.rtsCts = true;
         }},
        {sgOthers,
         [](TCustomComPort& p) {
             p.SetEventChar('\r');
             p.SetDiscardNull(true);
         },
         {"dcb", "dcb"},
         [](KernelView&) {}},  // the device's own input rules, not the terminal's
        {sgParity,
         [](TCustomComPort& p) {
             p.Parity().SetCheck(true);
             p.Parity().SetReplace(true);
             p.Parity().SetReplaceChar('?');
         },
         {"dcb", "dcb", "dcb"},
         [](KernelView& k) { k.parityCheck = true; }},
        {sgBuffer,
         [](TCustomComPort& p) {
             p.Buffer().SetOutputSize(4096);
             p.Buffer().SetInputSize(2048);
         },
         {"buffer", "buffer"},
         [](KernelView&) {}},
        {sgTimeouts,
         [](TCustomComPort& p) {
             p.Timeouts().SetReadInterval(50);
             p.Timeouts().SetReadTotalConstant(7);
             p.Timeouts().SetReadTotalMultiplier(3);
             p.Timeouts().SetWriteTotalConstant(-1);
             p.Timeouts().SetWriteTotalMultiplier(0);
         },
         {"timeouts", "timeouts", "timeouts", "timeouts", "timeouts"},
         [](KernelView&) {}},
        {sgFlowControl,
         [](TCustomComPort& p) {
             auto& f = p.FlowControl();
             f.SetControlRTS(rtsToggle);
             f.SetControlDTR(dtrHandshake);
             f.SetDSRSensitivity(true);
             f.SetOutCTSFlow(true);
             f.SetOutDSRFlow(true);
             f.SetTxContinueOnXoff(true);
             f.SetXonXoffIn(true);
             f.SetXonXoffOut(true);
             f.SetXoffChar(static_cast<char>(200));
             f.SetXonChar(' ');
         },
         Calls(10, "dcb"),
         // RTS toggle, DTR handshake and the DSR lines mean nothing on a pty.
         [](KernelView& k) {
             k.rtsCts = true;
             k.xonXoffOut = true;
             k.xonXoffIn = true;
             k.xoff = 200;
             k.xon = ' ';
         }},
    };
    return groups;
}

// Values for every group that no test stores: they must stay behind.
void SetOtherValues(TCustomComPort& p) {
    p.SetPort("ttyS9");
    p.SetBaudRate(br110);
    p.SetEventChar('!');
    p.Parity().SetReplaceChar('#');
    p.Buffer().SetInputSize(64);
    p.Timeouts().SetWriteTotalConstant(5);
    p.FlowControl().SetXonChar('X');
}

struct RoundTrip {
    std::vector<TStoredGroup> groups;
    const Store* store;
    const PortKind* kind;
};

std::string Name(const testing::TestParamInfo<RoundTrip>& info) {
    static const char* kGroupNames[] = {"Basic",    "FlowControl", "Buffer",
                                        "Timeouts", "Parity",      "Others"};
    std::string name = std::string(info.param.store->name) + info.param.kind->name;
    for (TStoredGroup g : info.param.groups) name += kGroupNames[g];
    return name;
}

void PrintTo(const RoundTrip& trip, std::ostream* out) {
    *out << trip.store->name << " " << trip.kind->name << " groups";
    for (TStoredGroup g : trip.groups) *out << " " << static_cast<int>(g);
}

class StorageRoundTrip : public testing::TestWithParam<RoundTrip> {};

// A port with other values in every group stores the chosen groups; a port
// with initial settings loads them and then equals the initial settings
// with exactly those groups' values; an open port hands each change to the
// device as its setter says and stays open. On a pty the terminal then
// holds the loaded line settings, and a stored "Port" naming another pty
// moves the open port there.
TEST_P(StorageRoundTrip, ChosenGroupsComeBackAndNothingElse) {
    const RoundTrip& trip = GetParam();
    TStoredGroups groups;
    Calls expectedCalls;
    KernelView expectedLine;
    std::vector<const GroupValues*> chosen;
    for (const GroupValues& g : Groups()) {
        for (TStoredGroup wanted : trip.groups) {
            if (g.group == wanted) {
                groups.Include(g.group);
                chosen.push_back(&g);
            }
        }
    }
    // Loading visits groups in the stored order, whatever order the test names.
    for (TStoredGroup g : {sgBasic, sgOthers, sgParity, sgBuffer, sgTimeouts, sgFlowControl})
        for (const GroupValues* c : chosen)
            if (c->group == g) {
                expectedCalls.insert(expectedCalls.end(), c->onOpenPort.begin(),
                                     c->onOpenPort.end());
                c->onPty(expectedLine);
            }

    TempFolder folder;
    // Declared before the target port, so it outlives the port that moves onto it.
    std::unique_ptr<PtyLine> nextLine;
    if (trip.kind->pty && groups.Contains(sgBasic))
        nextLine = std::make_unique<PtyLine>();
    auto setChosen = [&](TCustomComPort& port) {
        for (const GroupValues* g : chosen) g->set(port);
        if (nextLine)
            port.SetPort(nextLine->Path());
    };

    TComPort source;
    source.setObjectName("C1");
    SetOtherValues(source);
    setChosen(source);
    source.SetStoredGroups(groups);
    trip.store->save(source, folder);

    TComPort expected;
    setChosen(expected);

    LoadedPort target = trip.kind->make();
    if (target.line && !nextLine)
        expected.SetPort(target.line->Path());  // a port on a pty stays on it
    target.port->SetStoredGroups(groups);
    trip.store->load(*target.port, folder);

    EXPECT_EQ(SettingsOf(*target.port), SettingsOf(expected));
    EXPECT_EQ(target.port->Connected(), trip.kind->open);
    if (target.calls) {
        EXPECT_EQ(*target.calls, trip.kind->open ? expectedCalls : Calls{});
    }
    if (target.line) {
        EXPECT_EQ(KernelViewOf(nextLine ? *nextLine : *target.line), expectedLine);
    }
    if (nextLine) {
        // The first line was let go: another port can open it.
        TComPort other;
        other.SetEvents({});
        other.SetPort(target.line->Path());
        EXPECT_NO_THROW(other.Open());
    }
}

std::vector<RoundTrip> AllRoundTrips() {
    std::vector<RoundTrip> trips;
    for (const Store* store : {&kIni, &kRegistry}) {
        for (const PortKind* kind : {&kClosedPort, &kOpenPort, &kPtyPort}) {
            for (const GroupValues& g : Groups()) trips.push_back({{g.group}, store, kind});
            trips.push_back(
                {{sgBasic, sgOthers, sgParity, sgBuffer, sgTimeouts, sgFlowControl}, store, kind});
        }
    }
    return trips;
}

INSTANTIATE_TEST_SUITE_P(EveryGroup, StorageRoundTrip, testing::ValuesIn(AllRoundTrips()), Name);

// ---- What lands in the stores.

TEST(StoringSettings, BasicGroupWritesSixKeysOrSevenForACustomRate) {
    TempFolder folder;
    TComPort port;
    port.setObjectName("C1");
    kIni.save(port, folder);
    EXPECT_EQ(ReadFile(folder / "ports.ini"),
              "[C1]\nPort=COM1\nBaudRate=9600\nStopBits=1\nDataBits=8\nParity=None\n"
              "FlowControl=None\n");

    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(31250);
    TempFolder fresh;  // a key new to an existing section goes to its end
    kIni.save(port, fresh);
    EXPECT_THAT(KeysOf(ReadFile(fresh / "ports.ini")),
                ElementsAre("Port", "BaudRate", "CustomBaudRate", "StopBits", "DataBits", "Parity",
                            "FlowControl"));
    EXPECT_THAT(ReadFile(fresh / "ports.ini"),
                HasSubstr("BaudRate=Custom\nCustomBaudRate=31250\n"));

    kRegistry.save(port, folder);
    TKeyValueStore store(folder / "registry.sqlite", false);
    const TRegValues values = store.ReadValues(kKey);
    EXPECT_EQ(values.size(), 7u);
    EXPECT_EQ(values.at("CustomBaudRate").type, TRegType::kInteger);
    EXPECT_EQ(values.at("CustomBaudRate").data, std::string("\x12\x7a\0\0", 4));
    EXPECT_EQ(values.at("Port").type, TRegType::kString);
    EXPECT_EQ(values.at("Port").data, std::string("COM1\0", 5));

    port.SetBaudRate(br19200);
    TempFolder other;
    kRegistry.save(port, other);
    EXPECT_EQ(TKeyValueStore(other / "registry.sqlite", false).ReadValues(kKey).size(), 6u);
}

TEST(StoringSettings, EveryGroupWritesItsKeysInTheFixedOrder) {
    TempFolder folder;
    TComPort port;
    port.setObjectName("C1");
    port.SetStoredGroups(
        TStoredGroups{sgFlowControl, sgTimeouts, sgBuffer, sgParity, sgOthers, sgBasic});
    kIni.save(port, folder);
    EXPECT_THAT(
        KeysOf(ReadFile(folder / "ports.ini")),
        ElementsAre("Port", "BaudRate", "StopBits", "DataBits", "Parity", "FlowControl",
                    "EventChar", "DiscardNull", "Parity.Check", "Parity.Replace",
                    "Parity.ReplaceChar", "Buffer.OutputSize", "Buffer.InputSize",
                    "Timeouts.ReadInterval", "Timeouts.ReadTotalConstant",
                    "Timeouts.ReadTotalMultiplier", "Timeouts.WriteTotalConstant",
                    "Timeouts.WriteTotalMultiplier", "FlowControl.ControlRTS",
                    "FlowControl.ControlDTR", "FlowControl.DSRSensitivity",
                    "FlowControl.OutCTSFlow", "FlowControl.OutDSRFlow",
                    "FlowControl.TxContinueOnXoff", "FlowControl.XonXoffIn",
                    "FlowControl.XonXoffOut", "FlowControl.XoffChar", "FlowControl.XonChar"));
    EXPECT_THAT(ReadFile(folder / "ports.ini"),
                HasSubstr("Buffer.OutputSize=1024\nBuffer.InputSize=1024\n"
                          "Timeouts.ReadInterval=-1\n"));
}

TEST(StoringSettings, NoGroupsWritesAndReadsNothing) {
    TempFolder folder;
    CountingPort port;
    port.setObjectName("C1");
    port.SetStoredGroups({});
    TIniFile ini(folder / "ports.ini");
    port.StoreIniFile(ini);
    EXPECT_FALSE(ini.Modified());
    TRegistry reg(folder / "registry.sqlite");
    ASSERT_TRUE(reg.OpenKey(kKey, true));
    port.StoreRegistry(reg);
    EXPECT_TRUE(TKeyValueStore(folder / "registry.sqlite", false).ReadValues(kKey).empty());

    // Stores full of other values leave the port alone.
    TComPort full;
    full.setObjectName("C1");
    SetOtherValues(full);
    full.SetStoredGroups(
        TStoredGroups{sgBasic, sgFlowControl, sgBuffer, sgTimeouts, sgParity, sgOthers});
    kIni.save(full, folder);
    kRegistry.save(full, folder);
    port.OpenQuietly();
    const Settings before = SettingsOf(port);
    kIni.load(port, folder);
    kRegistry.load(port, folder);
    EXPECT_EQ(SettingsOf(port), before);
    EXPECT_TRUE(port.calls.empty());
}

TEST(StoringSettings, EventCharactersAndBooleansInTheirTextForms) {
    const struct {
        char value;
        const char* text;
    } chars[] = {{'\r', "#13"}, {' ', "#32"}, {'A', "A"}, {static_cast<char>(200), "#200"}};
    for (const auto& c : chars) {
        TempFolder folder;
        TComPort port;
        port.setObjectName("C1");
        port.SetStoredGroups({sgOthers});
        port.SetEventChar(c.value);
        port.SetDiscardNull(true);
        kIni.save(port, folder);
        EXPECT_EQ(ReadFile(folder / "ports.ini"),
                  std::string("[C1]\nEventChar=") + c.text + "\nDiscardNull=Yes\n");
        kRegistry.save(port, folder);
        TRegistry reg(folder / "registry.sqlite");
        ASSERT_TRUE(reg.OpenKeyReadOnly(kKey));
        EXPECT_EQ(reg.ReadString("EventChar"), c.text);
        EXPECT_EQ(reg.ReadString("DiscardNull"), "Yes");
    }
}

// ---- Loading what a person may have written.

struct LoadCase {
    const char* iniBody;  // below "[C1]"
    std::function<void(const TCustomComPort&)> check;
};

TEST(LoadingSettings, TextsAreReadAsTheConversionsSay) {
    const LoadCase cases[] = {
        {"DiscardNull=yes\n", [](auto& p) { EXPECT_TRUE(p.DiscardNull()); }},
        {"DiscardNull=YES\n", [](auto& p) { EXPECT_TRUE(p.DiscardNull()); }},
        {"DiscardNull=yEs\n", [](auto& p) { EXPECT_TRUE(p.DiscardNull()); }},
        {"DiscardNull=True\n", [](auto& p) { EXPECT_FALSE(p.DiscardNull()); }},
        {"DiscardNull=1\n", [](auto& p) { EXPECT_FALSE(p.DiscardNull()); }},
        {"EventChar=#65\n", [](auto& p) { EXPECT_EQ(p.EventChar(), 'A'); }},
        {"EventChar=A\n", [](auto& p) { EXPECT_EQ(p.EventChar(), 'A'); }},
        {"EventChar=#$41\n", [](auto& p) { EXPECT_EQ(p.EventChar(), 'A'); }},
        {"EventChar=#200\n", [](auto& p) { EXPECT_EQ(p.EventChar(), static_cast<char>(200)); }},
        {"BaudRate=9601\n", [](auto& p) { EXPECT_EQ(p.BaudRate(), br9600); }},
        {"BaudRate=custom\nCustomBaudRate=$7A12\n",
         [](auto& p) {
             EXPECT_EQ(p.BaudRate(), brCustom);
             EXPECT_EQ(p.CustomBaudRate(), 31250);
         }},
        // A rate that is not custom leaves "CustomBaudRate" unread.
        {"BaudRate=115200\nCustomBaudRate=31250\n",
         [](auto& p) {
             EXPECT_EQ(p.BaudRate(), br115200);
             EXPECT_EQ(p.CustomBaudRate(), 57600);
         }},
        // Without "CustomBaudRate" the rate is 9600, not the port's own.
        {"BaudRate=Custom\n",
         [](auto& p) {
             EXPECT_EQ(p.BaudRate(), brCustom);
             EXPECT_EQ(p.CustomBaudRate(), 9600);
         }},
        {"Port=\" /dev/odd name \"\nFlowControl=Software\n",
         [](auto& p) {
             EXPECT_EQ(p.Port(), " /dev/odd name ");
             EXPECT_TRUE(p.FlowControl().XonXoffIn());
         }},
    };
    for (const LoadCase& c : cases) {
        TempFolder folder;
        WriteFile(folder / "ports.ini", std::string("[C1]\n") + c.iniBody);
        TComPort port;
        port.setObjectName("C1");
        port.SetCustomBaudRate(57600);
        port.SetStoredGroups(TStoredGroups{sgBasic, sgOthers});
        kIni.load(port, folder);
        SCOPED_TRACE(c.iniBody);
        c.check(port);
    }
}

// A hand-edited file loads despite lines the reader cannot use and keys the
// load does not read; of a key or section written twice, the first counts.
TEST(LoadingSettings, StrayLinesAndUnreadKeysRefuseNothing) {
    const struct {
        const char* iniText;
        TBaudRate rate;
    } cases[] = {
        {"[C1]\nPort=ttyS9\nBaudRate=115200\nCustomBaudRate=fast\n", br115200},
        {"[C1]\nPort=ttyS9\nthis is not a setting\n=no key\nBaudRate=19200\n", br19200},
        {"Port=ttyS1\n[C1] ; my adapter\nPort=ttyS9\nBaudRate=19200\nbaudrate=300\n", br19200},
        {"[Other\n[Other]\nPort=\xff\nBaudRate=12x\n[C1]\nPort=ttyS9\nBaudRate=19200\n[c1]\n"
         "Port=ttyS2\n",
         br19200},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.iniText);
        TempFolder folder;
        WriteFile(folder / "ports.ini", c.iniText);
        TComPort port;
        port.setObjectName("C1");
        port.SetStoredGroups(TStoredGroups{sgBasic, sgBuffer});
        kIni.load(port, folder);
        EXPECT_EQ(port.Port(), "ttyS9");
        EXPECT_EQ(port.BaudRate(), c.rate);
    }
}

TEST(LoadingSettings, MissingIniKeysLeaveTheirSettings) {
    TempFolder folder;
    WriteFile(folder / "ports.ini", "[C1]\nBaudRate=19200\nBuffer.InputSize=512\n");
    CountingPort port;
    port.setObjectName("C1");
    SetOtherValues(port);
    for (const GroupValues& g : Groups())
        if (g.group != sgBasic)
            g.set(port);
    port.SetStoredGroups(
        TStoredGroups{sgBasic, sgFlowControl, sgBuffer, sgTimeouts, sgParity, sgOthers});
    port.OpenQuietly();
    Settings expected = SettingsOf(port);
    expected["BaudRate"] = "19200";
    expected["Buffer.InputSize"] = "512";

    kIni.load(port, folder);
    EXPECT_EQ(SettingsOf(port), expected);
    // The baud rate, the preset (re-applied even unchanged), the buffer size.
    EXPECT_EQ(port.calls, (Calls{"dcb", "dcb", "buffer"}));
}

TEST(LoadingSettings, SectionIsTheComponentName) {
    TempFolder folder;
    WriteFile(folder / "ports.ini", "[C1]\nPort=ttyS1\n\n[Port.2]\nPort=ttyS2\nParity=Odd\n");
    TComPort port;
    port.setObjectName("Port.2");
    kIni.load(port, folder);
    EXPECT_EQ(port.Port(), "ttyS2");
    EXPECT_EQ(port.Parity().Bits(), prOdd);

    port.setObjectName("C3");  // no such section: nothing changes
    kIni.load(port, folder);
    EXPECT_EQ(port.Port(), "ttyS2");

    port.setObjectName(QString::fromUtf8("Порт"));
    TIniFile ini(folder / "ports.ini");
    EXPECT_THROW(port.StoreIniFile(ini), EIniFileError);
}

TEST(LoadingSettings, RegistryWithoutTextsGivesTheConversionDefaults) {
    TempFolder folder;
    {
        TRegistry reg(folder / "registry.sqlite");
        ASSERT_TRUE(reg.OpenKey(kKey, true));
        reg.WriteString("BaudRate", "19200");
    }
    TComPort port;
    SetOtherValues(port);
    port.SetStopBits(sbTwoStopBits);
    port.FlowControl().SetFlowControl(fcSoftware);
    port.SetStoredGroups({sgBasic, sgOthers, sgParity, sgFlowControl});
    kRegistry.load(port, folder);

    EXPECT_EQ(port.Port(), "");
    EXPECT_EQ(port.BaudRate(), br19200);
    EXPECT_EQ(port.StopBits(), sbOneStopBit);
    EXPECT_EQ(port.EventChar(), '\0');
    EXPECT_EQ(port.Parity().ReplaceChar(), '\0');
    EXPECT_EQ(port.FlowControl().XonChar(), '\0');
    EXPECT_FALSE(port.FlowControl().XonXoffIn());
    EXPECT_EQ(port.FlowControl().ControlRTS(), rtsDisable);
}

// ---- Loads that fail.

TEST(LoadingSettings, RegistryStopsAtTheFirstAbsentNumber) {
    TempFolder folder;
    {
        TRegistry reg(folder / "registry.sqlite");
        ASSERT_TRUE(reg.OpenKey(kKey, true));
        reg.WriteString("Port", "ttyS5");
        reg.WriteString("BaudRate", "19200");
        reg.WriteInteger("Buffer.InputSize", 512);  // OutputSize, read first, is absent
        reg.WriteInteger("Timeouts.ReadInterval", 9);
    }
    CountingPort port;
    port.SetStoredGroups({sgBasic, sgBuffer, sgTimeouts});
    try {
        kRegistry.load(port, folder);
        ADD_FAILURE();
    } catch (const ERegistryException& error) {
        EXPECT_STREQ(error.what(), "Failed to get data for 'Buffer.OutputSize'");
    }
    EXPECT_EQ(port.Port(), "ttyS5");
    EXPECT_EQ(port.BaudRate(), br19200);
    EXPECT_EQ(port.Buffer().InputSize(), 1024);
    EXPECT_EQ(port.Timeouts().ReadInterval(), -1);

    {
        TRegistry reg(folder / "registry.sqlite");
        ASSERT_TRUE(reg.OpenKey(kKey, false));
        reg.WriteString("BaudRate", "Custom");
        reg.WriteString("StopBits", "2");
    }
    port.SetStoredGroups({sgBasic});
    try {
        kRegistry.load(port, folder);
        ADD_FAILURE();
    } catch (const ERegistryException& error) {
        EXPECT_STREQ(error.what(), "Failed to get data for 'CustomBaudRate'");
    }
    EXPECT_EQ(port.BaudRate(), brCustom);
    EXPECT_EQ(port.StopBits(), sbOneStopBit);  // after the failure: untouched
}

TEST(LoadingSettings, RegistryValueOfTheWrongTypeStopsTheLoad) {
    TempFolder folder;
    {
        TRegistry reg(folder / "registry.sqlite");
        ASSERT_TRUE(reg.OpenKey(kKey, true));
        reg.WriteString("Buffer.OutputSize", "4096");
        reg.WriteInteger("Parity.Check", 1);
    }
    TComPort port;
    port.SetStoredGroups({sgBuffer});
    EXPECT_THROW(kRegistry.load(port, folder), ERegistryException);
    port.SetStoredGroups({sgParity});
    try {
        kRegistry.load(port, folder);
        ADD_FAILURE();
    } catch (const ERegistryException& error) {
        EXPECT_STREQ(error.what(), "Invalid data type for 'Parity.Check'");
    }
}

struct DamagedIni {
    const char* name;
    std::string iniText;
    const char* message;
};

// Each names another port first, so a load that went ahead would show.
const std::vector<DamagedIni>& DamagedIniFiles() {
    static const std::vector<DamagedIni> cases{
        {"bad integer", "[C1]\nPort=ttyS9\nBaudRate=19200\nBuffer.InputSize=12x\n",
         "'12x' is not a valid integer value for key \"Buffer.InputSize\""},
        {"bad custom rate", "[C1]\nPort=ttyS9\nBaudRate=Custom\nCustomBaudRate=fast\n",
         "CustomBaudRate"},
        {"beyond Latin-1", "[C1]\nPort=ttyS9\nFlowControl.XonChar=\xe2\x82\xac\n",
         "beyond Latin-1"},
        {"not UTF-8", "[C1]\nPort=tty\xff\n", "not UTF-8"},
    };
    return cases;
}

const TStoredGroups kAllGroups{sgBasic, sgFlowControl, sgBuffer, sgTimeouts, sgParity, sgOthers};

// A store that cannot be read, or a value the port cannot take, is reported
// before the first setting changes.
TEST(LoadingSettings, DamagedStoreChangesNoSetting) {
    for (const DamagedIni& c : DamagedIniFiles()) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        WriteFile(folder / "ports.ini", c.iniText);
        CountingPort port;
        port.setObjectName("C1");
        port.SetStoredGroups(
            TStoredGroups{sgBasic, sgFlowControl, sgBuffer, sgTimeouts, sgParity, sgOthers});
        port.OpenQuietly();
        const Settings before = SettingsOf(port);
        try {
            kIni.load(port, folder);
            ADD_FAILURE() << "loaded";
        } catch (const EIniFileError& error) {
            EXPECT_THAT(error.what(), HasSubstr(c.message));
        }
        EXPECT_EQ(SettingsOf(port), before);
        EXPECT_TRUE(port.calls.empty());
    }

    TempFolder folder;
    WriteFile(folder / "registry.sqlite", "not a database, just text\n" + std::string(4096, '.'));
    CountingPort port;
    const Settings before = SettingsOf(port);
    EXPECT_THROW(kRegistry.load(port, folder), ERegistryException);
    EXPECT_EQ(SettingsOf(port), before);
}

// On a port open on a pty a damaged store reaches neither the settings nor
// the line: the terminal keeps what it held and the port stays on it.
TEST(LoadingSettings, DamagedStoreLeavesTheOpenLineAsItWas) {
    LoadedPort target = MakePtyPort();
    TCustomComPort& port = *target.port;
    port.SetCustomBaudRate(123457);
    port.SetBaudRate(brCustom);
    port.SetStopBits(sbTwoStopBits);
    port.FlowControl().SetFlowControl(fcSoftware);
    port.SetStoredGroups(kAllGroups);
    const Settings before = SettingsOf(port);
    const KernelView lineBefore = KernelViewOf(*target.line);
    ASSERT_EQ(lineBefore.speed, 123457u);
    ASSERT_TRUE(lineBefore.xonXoffIn);
    auto expectUnchanged = [&] {
        EXPECT_EQ(SettingsOf(port), before);
        EXPECT_EQ(KernelViewOf(*target.line), lineBefore);
        EXPECT_TRUE(port.Connected());
    };

    for (const DamagedIni& c : DamagedIniFiles()) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        WriteFile(folder / "ports.ini", c.iniText);
        EXPECT_THROW(kIni.load(port, folder), EIniFileError);
        expectUnchanged();
    }

    // A good store of other settings, then the same file damaged: cut short
    // (a copy broken off part-way), pages overwritten, or no store at all.
    TempFolder good;
    {
        TComPort other;
        other.setObjectName("C1");
        SetOtherValues(other);
        for (const GroupValues& g : Groups()) g.set(other);
        other.SetStoredGroups(kAllGroups);
        kRegistry.save(other, good);
    }
    const std::string store = ReadFile(good / "registry.sqlite");
    ASSERT_GT(store.size(), 2048u);
    std::string overwritten = store;
    for (std::size_t i = 100; i < overwritten.size(); i += 7) overwritten[i] = '\x5a';
    const struct {
        const char* name;
        std::string bytes;
    } stores[] = {
        {"cut short", store.substr(0, store.size() / 2)},
        {"overwritten", overwritten},
        {"not a store", "not a database, just text\n" + std::string(4096, '.')},
    };
    for (const auto& c : stores) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        WriteFile(folder / "registry.sqlite", c.bytes);
        EXPECT_THROW(kRegistry.load(port, folder), ERegistryException);
        expectUnchanged();
    }
}

TEST(LoadingSettings, FailedReopenUnderTheLoadedNameStopsTheLoad) {
    TempFolder folder;
    WriteFile(folder / "ports.ini", "[C1]\nPort=ttyGone\nBaudRate=19200\n");
    CountingPort port;
    port.setObjectName("C1");
    port.OpenQuietly();
    port.failOpen = true;
    EXPECT_THROW(kIni.load(port, folder), EComPort);
    EXPECT_EQ(port.Port(), "ttyGone");
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.BaudRate(), br9600);
    EXPECT_EQ(port.calls, (Calls{"close", "open ttyGone"}));
}

}  // namespace
}  // namespace cport
