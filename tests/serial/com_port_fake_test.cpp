// The port over the recording fake device: what a pty cannot produce — each
// system call failing with a chosen number, pending transfers, line errors
// and modem lines — and exactly which device calls each step makes.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "serial/port/com_buffer.h"
#include "serial/port/com_flow_control.h"
#include "serial/port/com_parity.h"
#include "serial/port/com_timeouts.h"
#include "serial/port/dcb_builder.h"
#include "serial/device/fake_com_device.h"
#include "serial/port/pending_io.h"
#include "tests/base/qt_test_support.h"
#include "tests/serial/port_fixtures.h"

namespace cport {
namespace {

using device::FakeComDevice;
using testutil::Raised;
using Calls = std::vector<std::string>;

constexpr int kEio = EIO;

class PortOverFake : public testing::Test {
  protected:
    PortOverFake() {
        port.SetDevice(fake);
        port.SetPort("COM7");
        port.SetEvents({});  // no event thread: the transfers are the point here
        testutil::RecordOpenClose(port, seen);
    }

    // The calls that open, configure, abort and close; the modem-line queries
    // the open and close reports make are left out.
    Calls LineCalls() const {
        static const std::vector<std::string> kept{"CreateFileA",     "SetupComm", "SetCommState",
                                                   "SetCommTimeouts", "PurgeComm", "CloseHandle"};
        Calls out;
        for (const std::string& call : fake.Calls()) {
            for (const std::string& name : kept) {
                if (call.compare(0, name.size() + 1, name + "(") == 0)
                    out.push_back(call);
            }
        }
        return out;
    }

    void OpenPort() {
        port.Open();
        ASSERT_TRUE(port.Connected());
        seen.clear();
    }

    FakeComDevice fake;  // before the port: it must outlive it
    std::vector<std::string> seen;
    TComPort port;
};

// --- Opening and closing -------------------------------------------------

TEST_F(PortOverFake, OpenHandsOverBufferLineAndTimeoutsInOrder) {
    port.Open();
    EXPECT_TRUE(port.Connected());
    EXPECT_NE(port.Handle(), device::INVALID_HANDLE_VALUE);
    EXPECT_EQ(fake.OpenedName(), "COM7");
    EXPECT_EQ(LineCalls(), (Calls{"CreateFileA(COM7)", "SetupComm(1024,1024)", "SetCommState(9600)",
                                  "SetCommTimeouts(4294967295,0,0,100,1000)"}));
    const device::DCB sent = fake.LastDcb();
    const device::DCB built = BuildDCB(port);
    EXPECT_EQ(std::memcmp(&sent, &built, sizeof sent), 0);
    EXPECT_EQ(seen, (Calls{"before open", "after open"}));
    EXPECT_EQ(port.EventThread(), nullptr);  // Events is empty
}

TEST_F(PortOverFake, CloseAbortsTransfersThenClosesDevice) {
    OpenPort();
    const std::size_t before = LineCalls().size();
    port.Close();
    const Calls calls = LineCalls();
    EXPECT_EQ(Calls(calls.begin() + static_cast<long>(before), calls.end()),
              (Calls{"PurgeComm(3)", "CloseHandle(1)"}));
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.Handle(), device::INVALID_HANDLE_VALUE);
    EXPECT_FALSE(fake.DeviceOpen());
    EXPECT_EQ(seen, (Calls{"before close", "after close"}));
}

TEST_F(PortOverFake, OpenWhenOpenAndCloseWhenClosedDoNothing) {
    port.Close();
    EXPECT_TRUE(fake.Calls().empty());
    EXPECT_TRUE(seen.empty());
    OpenPort();
    const std::size_t calls = fake.Calls().size();
    port.Open();
    EXPECT_EQ(fake.Calls().size(), calls);
    EXPECT_TRUE(seen.empty());
}

struct OpenFailure {
    std::string function;
    std::int32_t code;
};

class OpenFailureRow : public PortOverFake, public testing::WithParamInterface<OpenFailure> {};

TEST_P(OpenFailureRow, LeavesPortClosedWithDeviceReleased) {
    const OpenFailure& row = GetParam();
    fake.FailCall(row.function, 87, 1);
    const auto error = Raised([&] { port.Open(); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->ErrorCode(), row.code);
    EXPECT_EQ(error->WinErrorCode(), 87);
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.Handle(), device::INVALID_HANDLE_VALUE);
    EXPECT_FALSE(fake.DeviceOpen());
    EXPECT_EQ(seen, Calls{"before open"});  // OnAfterOpen did not run
    if (row.code != ecOpen) {
        EXPECT_EQ(LineCalls().back(), "CloseHandle(1)");
    }

    // Nothing is left behind: the next open works.
    seen.clear();
    port.Open();
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(seen, (Calls{"before open", "after open"}));
}

INSTANTIATE_TEST_SUITE_P(FailureTable, OpenFailureRow,
                         testing::Values(OpenFailure{"CreateFileA", ecOpen},
                                         OpenFailure{"SetupComm", ecSetup},
                                         OpenFailure{"SetCommState", ecSetState},
                                         OpenFailure{"SetCommTimeouts", ecSetTimeouts}),
                         [](const auto& row) { return row.param.function; });

TEST_F(PortOverFake, LaterStepsAreSkippedWhenOneFails) {
    fake.FailCall("SetupComm", kEio, 1);
    EXPECT_TRUE(Raised([&] { port.Open(); }));
    EXPECT_EQ(LineCalls(), (Calls{"CreateFileA(COM7)", "SetupComm(1024,1024)", "CloseHandle(1)"}));
}

TEST_F(PortOverFake, BeforeOpenHandlerErrorOpensNothing) {
    port.SetOnBeforeOpen([](QObject*) { throw EComPort(ecOpen, 1); });
    EXPECT_TRUE(Raised([&] { port.Open(); }));
    EXPECT_TRUE(fake.Calls().empty());
    EXPECT_FALSE(port.Connected());
}

TEST_F(PortOverFake, AfterOpenHandlerErrorLeavesPortOpen) {
    port.SetOnAfterOpen([](QObject*) { throw EComPort(ecModemStatus, 5); });
    const auto error = Raised([&] { port.Open(); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->ErrorCode(), ecModemStatus);
    EXPECT_TRUE(port.Connected());
    EXPECT_TRUE(fake.DeviceOpen());
}

TEST_F(PortOverFake, PurgeFailureInCloseLeavesPortOpen) {
    OpenPort();
    fake.FailCall("PurgeComm", kEio, 1);
    const auto error = Raised([&] { port.Close(); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->ErrorCode(), ecPurge);
    EXPECT_EQ(error->WinErrorCode(), kEio);
    EXPECT_TRUE(port.Connected());
    EXPECT_TRUE(fake.DeviceOpen());
    EXPECT_NE(port.Handle(), device::INVALID_HANDLE_VALUE);
    EXPECT_EQ(seen, Calls{"before close"});

    port.Close();
    EXPECT_FALSE(port.Connected());
    EXPECT_FALSE(fake.DeviceOpen());
}

TEST_F(PortOverFake, BeforeCloseHandlerErrorEndsClose) {
    OpenPort();
    port.SetOnBeforeClose([](QObject*) { throw EComPort(ecPurge, 1); });
    EXPECT_TRUE(Raised([&] { port.Close(); }));
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(fake.CallCount("PurgeComm"), 0);
    EXPECT_TRUE(fake.DeviceOpen());
}

// --- Settings on an open and on a closed port -------------------------------

struct Change {
    std::string name;
    std::function<void(TComPort&)> apply;
    std::string function;  // the one device call it must make while open
};

class SettingChange : public PortOverFake, public testing::WithParamInterface<Change> {};

TEST_P(SettingChange, OpenPortCallsExactlyOneFunctionOnce) {
    OpenPort();
    const std::size_t before = fake.Calls().size();
    GetParam().apply(port);
    const Calls calls = fake.Calls();
    ASSERT_EQ(calls.size(), before + 1) << "one call only";
    EXPECT_EQ(calls.back().substr(0, calls.back().find('(')), GetParam().function);
    EXPECT_TRUE(port.Connected());
}

TEST_P(SettingChange, ClosedPortCallsNothing) {
    GetParam().apply(port);
    EXPECT_TRUE(fake.Calls().empty());
}

INSTANTIATE_TEST_SUITE_P(
    EverySetter, SettingChange,
    testing::Values(
        Change{"BaudRate", [](TComPort& p) { p.SetBaudRate(br115200); }, "SetCommState"},
        Change{"CustomBaudRate", [](TComPort& p) { p.SetCustomBaudRate(250000); }, "SetCommState"},
        Change{"StopBits", [](TComPort& p) { p.SetStopBits(sbTwoStopBits); }, "SetCommState"},
        Change{"DataBits", [](TComPort& p) { p.SetDataBits(dbSeven); }, "SetCommState"},
        Change{"DiscardNull", [](TComPort& p) { p.SetDiscardNull(true); }, "SetCommState"},
        Change{"EventChar", [](TComPort& p) { p.SetEventChar('\n'); }, "SetCommState"},
        Change{"ParityBits", [](TComPort& p) { p.Parity().SetBits(prEven); }, "SetCommState"},
        Change{"ParityCheck", [](TComPort& p) { p.Parity().SetCheck(true); }, "SetCommState"},
        Change{"ParityObject",
               [](TComPort& p) {
                   TComParity other;
                   other.SetBits(prOdd);
                   p.SetParity(other);
               },
               "SetCommState"},
        Change{"FlowControlPreset", [](TComPort& p) { p.FlowControl().SetFlowControl(fcHardware); },
               "SetCommState"},
        Change{"ControlDTR", [](TComPort& p) { p.FlowControl().SetControlDTR(dtrEnable); },
               "SetCommState"},
        Change{"XonChar", [](TComPort& p) { p.FlowControl().SetXonChar('A'); }, "SetCommState"},
        Change{"ReadInterval", [](TComPort& p) { p.Timeouts().SetReadInterval(200); },
               "SetCommTimeouts"},
        Change{"WriteTotalConstant", [](TComPort& p) { p.Timeouts().SetWriteTotalConstant(5); },
               "SetCommTimeouts"},
        Change{"TimeoutsObject",
               [](TComPort& p) {
                   TComTimeouts other;
                   other.SetReadTotalConstant(200);
                   p.SetTimeouts(other);
               },
               "SetCommTimeouts"},
        Change{"InputSize", [](TComPort& p) { p.Buffer().SetInputSize(4096); }, "SetupComm"},
        Change{"OutputSize", [](TComPort& p) { p.Buffer().SetOutputSize(2048); }, "SetupComm"},
        Change{"BufferObject",
               [](TComPort& p) {
                   TComBuffer other;
                   other.SetInputSize(8192);
                   p.SetBuffer(other);
               },
               "SetupComm"}),
    [](const auto& row) { return row.param.name; });

TEST_F(PortOverFake, RefusedChangeKeepsPortOpenAndValueStored) {
    OpenPort();
    fake.FailCall("SetCommTimeouts", 22, 1);
    const auto error = Raised([&] { port.Timeouts().SetReadInterval(200); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->ErrorCode(), ecSetTimeouts);
    EXPECT_EQ(error->WinErrorCode(), 22);
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(port.Timeouts().ReadInterval(), 200);
}

// --- Transfers -------------------------------------------------------------

TEST_F(PortOverFake, WriteAndReadTextMoveBytesUnchanged) {
    OpenPort();
    const std::string out("\x00\x7F\x80\xFF", 4);
    EXPECT_EQ(port.Write(out.data(), 4), 4);
    EXPECT_EQ(fake.Written(), out);

    fake.PushInput(std::string("\xFF\x00zz", 4));
    tarvik::Text text = "old contents";
    EXPECT_EQ(port.ReadText(text, 10), 4);
    EXPECT_EQ(text, std::string("\xFF\x00zz", 4));
    EXPECT_EQ(fake.OpenEvents(), 0u);
}

TEST_F(PortOverFake, ReadAsksTheDeviceAfterwardsToClearItsErrorState) {
    OpenPort();
    fake.PushInput("abc");
    char buffer[8];
    EXPECT_EQ(port.Read(buffer, 8), 3);
    const Calls calls = fake.Calls();
    const auto read = std::find(calls.begin(), calls.end(), "ReadFile(8)");
    ASSERT_NE(read, calls.end());
    EXPECT_NE(std::find(read, calls.end(), "ClearCommError()"), calls.end());
}

TEST_F(PortOverFake, CountZeroCases) {
    // Not even open: a count of 0 or less reads nothing and asks nothing.
    for (const std::int32_t count : {0, -5}) {
        tarvik::Text text = "stale";
        EXPECT_EQ(port.ReadText(text, count), 0);
        EXPECT_TRUE(text.empty());
    }
    EXPECT_EQ(fake.CallCount("ReadFile"), 0);
    EXPECT_EQ(fake.CallCount("ClearCommError"), 0);

    OpenPort();
    EXPECT_EQ(port.Write("", 0), 0);
    EXPECT_EQ(fake.CallCount("WriteFile"), 1);
    EXPECT_EQ(fake.OpenEvents(), 0u);
}

TEST_F(PortOverFake, NegativeCountsAreRefusedBeforeTheDevice) {
    OpenPort();
    char buffer[4];
    const auto write = Raised([&] { port.Write(buffer, -1); });
    ASSERT_TRUE(write);
    EXPECT_EQ(write->ErrorCode(), ecWrite);
    EXPECT_EQ(write->WinErrorCode(), EINVAL);
    const auto read = Raised([&] { port.Read(buffer, -1); });
    ASSERT_TRUE(read);
    EXPECT_EQ(read->ErrorCode(), ecRead);
    EXPECT_EQ(fake.CallCount("WriteFile") + fake.CallCount("ReadFile"), 0);
    EXPECT_EQ(fake.OpenEvents(), 0u);
}

struct Failure {
    std::string name;
    std::string function;  // made to fail
    int error;
    std::function<void(TComPort&)> action;
    std::int32_t code;
};

class FailureCode : public PortOverFake, public testing::WithParamInterface<Failure> {};

TEST_P(FailureCode, CarriesTheNumberAndReleasesTheRecord) {
    const Failure& row = GetParam();
    OpenPort();
    const device::ComHandle handle = port.Handle();
    fake.FailCall(row.function, row.error);
    const auto error = Raised([&] { row.action(port); });
    fake.ClearFailures();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->ErrorCode(), row.code);
    EXPECT_EQ(error->WinErrorCode(), row.error);
    EXPECT_NE(std::string(error->what()).find(" (win error code: " + std::to_string(row.error)),
              std::string::npos)
        << error->what();
    EXPECT_EQ(fake.OpenEvents(), 0u) << "record not released";
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(port.Handle(), handle);
}

void WriteSome(TComPort& p) {
    p.Write("abc", 3);
}
void ReadSome(TComPort& p) {
    char buffer[4];
    p.Read(buffer, 4);
}
void ReadTextSome(TComPort& p) {
    tarvik::Text text;
    p.ReadText(text, 4);
}

INSTANTIATE_TEST_SUITE_P(
    EveryCode, FailureCode,
    testing::Values(Failure{"WriteStart", "WriteFile", EIO, WriteSome, ecWrite},
                    Failure{"WriteResult", "GetOverlappedResult", ECONNRESET, WriteSome, ecWrite},
                    Failure{"WriteWait", "WaitForSingleObject", EINVAL, WriteSome, ecWrite},
                    Failure{"ReadStart", "ReadFile", EIO, ReadSome, ecRead},
                    Failure{"ReadTextStart", "ReadFile", ENXIO, ReadTextSome, ecRead},
                    Failure{"ReadResult", "GetOverlappedResult", ECONNRESET, ReadTextSome, ecRead},
                    Failure{"ReadWait", "WaitForSingleObject", EINVAL, ReadTextSome, ecRead},
                    Failure{"AfterReadQuery", "ClearCommError", EIO, ReadTextSome, ecClearError},
                    Failure{"NoRecord", "CreateEventA", EMFILE, WriteSome, ecAsyncStatus},
                    Failure{"Abort", "PurgeComm", EIO, [](TComPort& p) { p.AbortIo(); }, ecPurge},
                    Failure{"BytesWaiting", "ClearCommError", EIO,
                            [](TComPort& p) { p.BytesWaiting(); }, ecClearError},
                    Failure{"ReadLineErrors", "ClearCommError", EIO,
                            [](TComPort& p) { p.ReadLineErrors(); }, ecClearError},
                    Failure{"ModemSignals", "GetCommModemStatus", EIO,
                            [](TComPort& p) { p.ModemSignals(); }, ecModemStatus}),
    [](const auto& row) { return row.param.name; });

TEST_F(PortOverFake, TransfersOnAClosedPortFailWithTheSystemsNumber) {
    const auto write = Raised([&] { WriteSome(port); });
    ASSERT_TRUE(write);
    EXPECT_EQ(write->ErrorCode(), ecWrite);
    EXPECT_EQ(write->WinErrorCode(), EBADF);
    const auto read = Raised([&] { ReadTextSome(port); });
    ASSERT_TRUE(read);
    EXPECT_EQ(read->ErrorCode(), ecRead);
    EXPECT_EQ(fake.OpenEvents(), 0u);
}

TEST_F(PortOverFake, AbsentRecordIsCodeFourWithoutNumber) {
    tarvik::Text text;
    char buffer[4];
    const std::vector<std::function<void()>> calls{
        [&] { port.BeginWrite("a", 1, nullptr); },
        [&] { port.BeginRead(buffer, 4, nullptr); },
        [&] { port.BeginReadText(text, 4, nullptr); },
        [&] { port.WaitForIo(nullptr); },
    };
    for (const auto& call : calls) {
        const auto error = Raised(call);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->ErrorCode(), ecInvalidAsync);
        EXPECT_EQ(error->WinErrorCode(), -1);
        EXPECT_STREQ(error->what(), "Invalid Async parameter");
    }
}

TEST_F(PortOverFake, OverlappedFormCompletesWhenTheDeviceDoes) {
    OpenPort();
    fake.HoldTransfers(true);
    TPendingIo* io = nullptr;
    port.NewPendingIo(io);
    ASSERT_NE(io, nullptr);
    EXPECT_EQ(port.BeginWrite("xyz", 3, io), 0);  // pending
    EXPECT_EQ(io->Kind, ikWrite);
    fake.ReleaseTransfers();
    EXPECT_EQ(port.WaitForIo(io), 3);
    port.FreePendingIo(io);
    EXPECT_EQ(io, nullptr);
    EXPECT_EQ(fake.Written(), "xyz");
    EXPECT_EQ(fake.OpenEvents(), 0u);
    port.FreePendingIo(io);  // absent: nothing
}

TEST_F(PortOverFake, AbortIoEndsAPendingReadAtOnce) {
    OpenPort();
    fake.HoldTransfers(true);
    TPendingIo* io = nullptr;
    port.NewPendingIo(io);
    tarvik::Text text;
    EXPECT_EQ(port.BeginReadText(text, 16, io), 0);
    EXPECT_EQ(text.size(), 16u);
    port.AbortIo();
    const auto error = Raised([&] { port.WaitForIo(io); });
    port.FreePendingIo(io);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->ErrorCode(), ecRead);
    EXPECT_EQ(error->WinErrorCode(), ECANCELED);
    EXPECT_EQ(fake.OpenEvents(), 0u);
}

TEST_F(PortOverFake, FailedWaitEndsTheTransferBeforeItsRecordGoes) {
    OpenPort();
    fake.HoldTransfers(true);
    fake.FailCall("WaitForSingleObject", EINVAL, 1);
    std::string data = "abc";
    EXPECT_TRUE(Raised([&] { port.Write(data.data(), 3); }));
    EXPECT_EQ(fake.CallCount("PurgeComm"), 1);
    // Nothing of the freed record or its buffer is used afterwards.
    fake.ReleaseTransfers();
    EXPECT_EQ(fake.Written(), "");
    EXPECT_EQ(fake.OpenEvents(), 0u);
}

TEST_F(PortOverFake, BytesWaitingIsTheInputCount) {
    OpenPort();
    EXPECT_EQ(port.BytesWaiting(), 0);
    fake.PushInput("12345");
    EXPECT_EQ(port.BytesWaiting(), 5);
}

struct LineErrorCase {
    std::uint32_t word;
    bool check;
    TComErrors expected;
};

TEST_F(PortOverFake, ReadLineErrorsMapsTheWordAndHonoursParityCheck) {
    using namespace device;
    const std::vector<LineErrorCase> cases{
        {0, false, {}},
        {CE_FRAME, false, {ceFrame}},
        {CE_RXPARITY, false, {}},
        {CE_RXPARITY, true, {ceRxParity}},
        {CE_OVERRUN, false, {ceOverrun}},
        {CE_BREAK, false, {ceBreak}},
        {CE_IOE, false, {ceIO}},
        {CE_MODE, false, {ceMode}},
        {CE_RXOVER, false, {ceRxOver}},
        {CE_TXFULL, false, {ceTxFull}},
        {CE_FRAME | CE_RXPARITY | CE_OVERRUN, true, {ceFrame, ceRxParity, ceOverrun}},
        {CE_FRAME | CE_RXPARITY | CE_OVERRUN, false, {ceFrame, ceOverrun}},
        {0x0020 | 0x0040 | 0x0080 | 0x0200 | 0x0800 | 0x1000, true, {}},  // not reported
        {0xFFFF, true, {ceFrame, ceRxParity, ceOverrun, ceBreak, ceIO, ceMode, ceRxOver, ceTxFull}},
    };
    OpenPort();
    for (const LineErrorCase& c : cases) {
        port.Parity().SetCheck(c.check);
        fake.AddLineErrors(c.word);
        EXPECT_EQ(port.ReadLineErrors(), c.expected) << std::hex << c.word << " check " << c.check;
        // The call cleared them: a dropped parity error does not come back later.
        port.Parity().SetCheck(true);
        EXPECT_TRUE(port.ReadLineErrors().Empty());
    }
}

TEST_F(PortOverFake, ModemSignalsMapsTheStatusBits) {
    using namespace device;
    const std::vector<std::pair<std::uint32_t, TModemSignals>> cases{
        {0, {}},
        {MS_CTS_ON, {msCTS}},
        {MS_DSR_ON, {msDSR}},
        {MS_RING_ON, {msRing}},
        {MS_RLSD_ON, {msRLSD}},
        {MS_CTS_ON | MS_RLSD_ON, {msCTS, msRLSD}},
        {0xF0, {msCTS, msDSR, msRing, msRLSD}},
        {0x0F | 0x100, {}},
    };
    OpenPort();
    for (const auto& [bits, expected] : cases) {
        fake.SetModemStatus(bits);
        EXPECT_EQ(port.ModemSignals(), expected) << std::hex << bits;
    }
}

// --- Destruction -----------------------------------------------------------

TEST(PortDestruction, ClosesAnOpenPortWithItsCloseSteps) {
    FakeComDevice fake;
    std::vector<std::string> seen;
    {
        TComPort port;
        port.SetDevice(fake);
        port.SetEvents({});
        port.Open();
        testutil::RecordOpenClose(port, seen);
    }
    EXPECT_FALSE(fake.DeviceOpen());
    EXPECT_EQ(seen, (Calls{"before close", "after close"}));
}

TEST(PortDestruction, FailedCloseStillReleasesTheDevice) {
    const std::vector<std::function<void(FakeComDevice&, TComPort&)>> failures{
        [](FakeComDevice& fake, TComPort&) { fake.FailCall("PurgeComm", EIO); },
        [](FakeComDevice&, TComPort& port) {
            port.SetOnBeforeClose([](QObject*) { throw EComPort(ecPurge, 1); });
        },
    };
    for (const auto& fail : failures) {
        FakeComDevice fake;
        {
            TComPort port;
            port.SetDevice(fake);
            port.SetEvents({});
            port.Open();
            fail(fake, port);
        }
        EXPECT_FALSE(fake.DeviceOpen());
    }
}

// --- End of loading ----------------------------------------------------------

TEST_F(PortOverFake, PortStoredConnectedOpensWhenLoadingEnds) {
    port.BeginLoading();
    port.SetConnected(true);
    EXPECT_TRUE(fake.Calls().empty());
    port.EndLoading();
    EXPECT_TRUE(port.Connected());
    EXPECT_TRUE(fake.DeviceOpen());
    EXPECT_EQ(seen, (Calls{"before open", "after open"}));
}

TEST_F(PortOverFake, OpenFailureAtEndOfLoadingGoesToTheApplication) {
    auto& app = tarvik::testing::App();
    app.errors.clear();
    fake.FailCall("CreateFileA", ENOENT);
    port.BeginLoading();
    port.SetConnected(true);
    port.EndLoading();  // does not raise
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.Handle(), device::INVALID_HANDLE_VALUE);
    ASSERT_TRUE(tarvik::testing::RunEventLoopUntil([&] { return !app.errors.empty(); }));
    EXPECT_EQ(app.errors, Calls{"Unable to open com port (win error code: 2)"});
}

}  // namespace
}  // namespace cport
