#include "serial/device/fake_com_device.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

namespace cport::device {
namespace {

TEST(FakeComDevice, RecordsCallsAndFailsChosenOnes) {
    FakeComDevice dev;
    const ComHandle h = dev.CreateFileA("COM1");
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(dev.OpenedName(), "COM1");
    EXPECT_TRUE(dev.SetupComm(h, 1024, 2048));
    dev.FailCall("SetCommState", EIO, 1);
    DCB dcb;
    dcb.BaudRate = 19200;
    EXPECT_FALSE(dev.SetCommState(h, dcb));
    EXPECT_EQ(dev.GetLastError(), EIO);
    EXPECT_TRUE(dev.SetCommState(h, dcb));  // only once
    EXPECT_EQ(dev.LastDcb().BaudRate, 19200u);
    EXPECT_EQ(dev.CallCount("SetCommState"), 2);

    // Any call can fail, with any number.
    struct Case {
        const char* function;
        std::function<bool()> call;
    };
    std::uint32_t n = 0;
    COMSTAT stat;
    OVERLAPPED ov;
    ov.hEvent = dev.CreateEventA(true, true);
    char buffer[4];
    const Case cases[] = {
        {"WriteFile", [&] { return dev.WriteFile(h, "ab", 2, &n, &ov); }},
        {"ReadFile", [&] { return dev.ReadFile(h, buffer, 4, &n, &ov); }},
        {"PurgeComm", [&] { return dev.PurgeComm(h, PURGE_RXABORT | PURGE_TXABORT); }},
        {"ClearCommError", [&] { return dev.ClearCommError(h, &n, &stat); }},
        {"GetCommModemStatus", [&] { return dev.GetCommModemStatus(h, &n); }},
        {"GetOverlappedResult", [&] { return dev.GetOverlappedResult(h, &ov, &n, false); }},
        {"SetCommTimeouts", [&] { return dev.SetCommTimeouts(h, {}); }},
        {"SetupComm", [&] { return dev.SetupComm(h, 1, 1); }},
        {"SetCommMask", [&] { return dev.SetCommMask(h, EV_RXCHAR); }},
        {"WaitForSingleObject",
         [&] { return dev.WaitForSingleObject(ov.hEvent, 0) != WAIT_FAILED; }},
    };
    int number = 100;
    for (const Case& c : cases) {
        dev.FailCall(c.function, ++number);
        EXPECT_FALSE(c.call()) << c.function;
        EXPECT_EQ(dev.GetLastError(), number) << c.function;
        dev.ClearFailures();
        EXPECT_TRUE(c.call()) << c.function;
    }
    EXPECT_EQ(dev.Calls().front(), "CreateFileA(COM1)");
    EXPECT_EQ(dev.Calls()[1], "SetupComm(1024,2048)");
    EXPECT_TRUE(dev.CloseHandle(ov.hEvent));
    EXPECT_EQ(dev.OpenEvents(), 0u);
    EXPECT_TRUE(dev.CloseHandle(h));
    EXPECT_FALSE(dev.DeviceOpen());
}

TEST(FakeComDevice, ScriptedInputEventsAndHeldTransfers) {
    FakeComDevice dev;
    const ComHandle h = dev.CreateFileA("COM2");
    dev.PushInput("hello");
    std::uint32_t errors = 0;
    COMSTAT stat;
    ASSERT_TRUE(dev.ClearCommError(h, &errors, &stat));
    EXPECT_EQ(stat.cbInQue, 5u);
    OVERLAPPED ov;
    ov.hEvent = dev.CreateEventA(true, true);
    char buffer[8] = {};
    std::uint32_t n = 0;
    EXPECT_TRUE(dev.ReadFile(h, buffer, 3, &n, &ov));
    EXPECT_EQ(std::string(buffer, n), "hel");

    dev.SetModemStatus(MS_CTS_ON | MS_RLSD_ON);
    ASSERT_TRUE(dev.GetCommModemStatus(h, &n));
    EXPECT_EQ(n, MS_CTS_ON | MS_RLSD_ON);
    dev.AddLineErrors(CE_RXPARITY | CE_FRAME);
    ASSERT_TRUE(dev.ClearCommError(h, &errors, &stat));
    EXPECT_EQ(errors, CE_RXPARITY | CE_FRAME);
    ASSERT_TRUE(dev.ClearCommError(h, &errors, &stat));
    EXPECT_EQ(errors, 0u);

    // A wait completes when an event in the mask is raised.
    ASSERT_TRUE(dev.SetCommMask(h, EV_RXCHAR));
    OVERLAPPED wov;
    wov.hEvent = dev.CreateEventA(true, true);
    std::uint32_t mask = 0;
    EXPECT_FALSE(dev.WaitCommEvent(h, &mask, &wov));
    EXPECT_EQ(dev.GetLastError(), ERROR_IO_PENDING);
    std::thread raiser([&] { dev.RaiseEvents(EV_CTS | EV_RXCHAR); });
    EXPECT_EQ(dev.WaitForSingleObject(wov.hEvent, INFINITE), WAIT_OBJECT_0);
    raiser.join();
    EXPECT_EQ(mask, EV_RXCHAR);

    // Held transfers wait until released or aborted.
    dev.HoldTransfers(true);
    EXPECT_FALSE(dev.WriteFile(h, "xyz", 3, &n, &ov));
    EXPECT_EQ(dev.GetLastError(), ERROR_IO_PENDING);
    EXPECT_EQ(dev.WaitForSingleObject(ov.hEvent, 0), WAIT_TIMEOUT);
    dev.ReleaseTransfers();
    ASSERT_TRUE(dev.GetOverlappedResult(h, &ov, &n, false));
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(dev.Written(), "xyz");
    dev.HoldTransfers(true);
    EXPECT_FALSE(dev.ReadFile(h, buffer, 2, &n, &ov));
    EXPECT_TRUE(dev.PurgeComm(h, PURGE_RXABORT));
    EXPECT_FALSE(dev.GetOverlappedResult(h, &ov, &n, false));
    EXPECT_EQ(dev.GetLastError(), ECANCELED);
    dev.CloseHandle(wov.hEvent);
    dev.CloseHandle(ov.hEvent);
    dev.CloseHandle(h);
}

}  // namespace
}  // namespace cport::device
