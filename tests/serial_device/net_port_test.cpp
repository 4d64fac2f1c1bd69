// Ports on the network through the device interface, against the tests' own
// RFC 2217 server: the bytes asked of it, what it did not confirm, data with
// every byte value, its notifications as line events, and what an open or a
// connection does when the server refuses, stays silent or breaks the
// protocol.

#include <gtest/gtest.h>

#include <algorithm>
#include <future>

#include "pty_fixture.h"
#include "serial/device/net/com_port_option.h"
#include "serial/device/net/net_address.h"
#include "serial/device/net/resolve.h"
#include "serial/device/net/telnet_parser.h"
#include "serial/device/posix_com_device.h"
#include "tests/serial_device/rfc2217_server.h"

namespace cport::device {
namespace {

using namespace std::chrono_literals;
using testing::Rfc2217Server;
using Bytes = std::vector<std::uint8_t>;

TEST(NetAddressTest, NamesAreParsedOrRefused) {
    struct Row {
        const char* name;
        bool ok;
        net::NetProtocol protocol;
        const char* host;
        int port;
    };
    const Row rows[] = {
        {"rfc2217://127.0.0.1:2217", true, net::NetProtocol::kRfc2217, "127.0.0.1", 2217},
        {"SOCKET://localhost:7000/", true, net::NetProtocol::kRaw, "localhost", 7000},
        {"socket://[::1]:7", true, net::NetProtocol::kRaw, "::1", 7},
        {"rfc2217://host", false, {}, "", 0},
        {"rfc2217://host:0", false, {}, "", 0},
        {"rfc2217://host:65536", false, {}, "", 0},
        {"rfc2217://:80", false, {}, "", 0},
        {"socket://::1:7", false, {}, "", 0},
        {"socket://a b:7", false, {}, "", 0},
        {"/dev/ttyS0", false, {}, "", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto address = net::ParseNetAddress(row.name);
        ASSERT_EQ(address.has_value(), row.ok);
        if (row.ok) {
            EXPECT_EQ(address->protocol, row.protocol);
            EXPECT_EQ(address->host, row.host);
            EXPECT_EQ(address->port, row.port);
        }
    }
    EXPECT_EQ(net::HostAndPort(*net::ParseNetAddress("socket://[::1]:7")), "[::1]:7");
    // What the port box lets a user type on into a name.
    for (const char* start : {"r", "SOCK", "rfc2217:/", "socket://x", "Rfc2217://h:1"})
        EXPECT_TRUE(net::BeginsLikeNetworkPortName(start)) << start;
    for (const char* other : {"", "t", "rfc3", "sockets", "/dev/ttyS0"})
        EXPECT_FALSE(net::BeginsLikeNetworkPortName(other)) << other;
}

TEST(TelnetParserTest, DataCommandsAndFaults) {
    struct Row {
        Bytes in;
        Bytes data;
        std::size_t commands;
        bool fault;
    };
    const Row rows[] = {
        {{'a', 255, 255, 'b'}, {'a', 255, 'b'}, 0, false},
        {{255, 251, 1, 'x'}, {'x'}, 1, false},
        {{255, 250, 44, 107, 255, 255, 255, 240, 'y'}, {'y'}, 1, false},
        {{255, 241, 'z'}, {'z'}, 1, false},
        {{'q', 255, 7}, {'q'}, 0, true},
        {{255, 250, 44, 1, 255, 1}, {}, 0, true},
    };
    for (const Row& row : rows) {
        // Whole, and a byte at a time: a sequence cut between reads is the same.
        for (const bool split : {false, true}) {
            net::TelnetParser parser;
            Bytes data(row.in.size());
            std::size_t n = 0;
            for (std::size_t at = 0; at < row.in.size(); at += split ? 1 : row.in.size())
                n += parser.Feed(row.in.data() + at, split ? 1 : row.in.size(), data.data() + n);
            data.resize(n);
            if (!row.fault) {
                EXPECT_EQ(data, row.data);
            }
            EXPECT_EQ(parser.Commands().size(), row.commands);
            EXPECT_EQ(parser.Failed(), row.fault);
        }
    }
    net::TelnetParser endless;
    Bytes sub = {255, 250, 44};
    sub.resize(2000, 'x');
    Bytes out(sub.size());
    endless.Feed(sub.data(), sub.size(), out.data());
    EXPECT_TRUE(endless.Failed());
    EXPECT_NE(endless.Fault().find("longer than"), std::string::npos);
}

// One overlapped transfer on a fresh event, waited for.
struct NetTransfer {
    ComDevice& dev;
    ComHandle handle;
    OVERLAPPED ov{};
    NetTransfer(ComDevice& d, ComHandle h) : dev(d), handle(h) { ov.hEvent = dev.CreateEventA(true, true); }
    ~NetTransfer() { dev.CloseHandle(ov.hEvent); }
    long Finish(bool started) {
        if (!started && dev.GetLastError() != ERROR_IO_PENDING) return -dev.GetLastError();
        EXPECT_EQ(dev.WaitForSingleObject(ov.hEvent, 10000), WAIT_OBJECT_0);
        std::uint32_t n = 0;
        return dev.GetOverlappedResult(handle, &ov, &n, false) ? long(n) : -dev.GetLastError();
    }
    std::string Read(std::uint32_t count) {
        std::string into(count, '\0');
        std::uint32_t done = 0;
        const long n = Finish(dev.ReadFile(handle, into.data(), count, &done, &ov));
        into.resize(n > 0 ? n : 0);
        return into;
    }
    long Write(const std::string& bytes) {
        std::uint32_t done = 0;
        return Finish(dev.WriteFile(handle, bytes.data(), bytes.size(), &done, &ov));
    }
};

class NetPortTest : public ::testing::Test {
  protected:
    ComHandle Open(const Rfc2217Server& server) {
        const ComHandle h = dev_.CreateFileA(server.Url());
        EXPECT_NE(h, INVALID_HANDLE_VALUE) << dev_.GetLastError();
        // Reads end with what came within a second.
        const COMMTIMEOUTS timeouts{0, 0, 1000, 0, 2000};
        EXPECT_TRUE(dev_.SetCommTimeouts(h, timeouts));
        return h;
    }
    std::vector<LineEvent> Events(ComHandle h, std::size_t atLeast) {
        std::vector<LineEvent> all, some;
        WaitUntil([&] {
            std::uint32_t errors = 0;
            COMSTAT status;
            dev_.ClearCommError(h, &errors, &status);  // moves the device on
            errors_ |= errors;
            dev_.TakeLineEvents(h, &some);
            all.insert(all.end(), some.begin(), some.end());
            return all.size() >= atLeast;
        });
        return all;
    }
    static bool Asked(const Rfc2217Server& server, const Bytes& request) {
        const auto all = server.Requests();
        return std::find(all.begin(), all.end(), request) != all.end();
    }

    PosixComDevice dev_;
    std::uint32_t errors_ = 0;
};

TEST_F(NetPortTest, SettingsReachTheServerAndWhatItLeavesUnconfirmedIsReported) {
    Rfc2217Server::Options options;
    options.unanswered = {8};  // DTR on, as ser2net serving a pty
    Rfc2217Server server(options);
    const ComHandle h = Open(server);
    DCB dcb;
    dcb.BaudRate = 19200;
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    dcb.StopBits = TWOSTOPBITS;
    dcb.Flags |= DTR_CONTROL_ENABLE | RTS_CONTROL_ENABLE;
    ASSERT_TRUE(dev_.SetCommState(h, dcb));
    for (const Bytes& request : {Bytes{1, 0, 0, 0x4B, 0}, Bytes{2, 7}, Bytes{3, 3}, Bytes{4, 2},
                                 Bytes{5, 1}, Bytes{5, 8}, Bytes{5, 11}, Bytes{0}})
        EXPECT_TRUE(Asked(server, request)) << int(request[0]);
    ASSERT_TRUE(dev_.SetCommMask(h, EV_LINEEVENT));
    const auto events = Events(h, 1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, LineEventKind::kUnconfirmed);
    EXPECT_EQ(UnconfirmedSettingsText(events[0].count), "DTR");
    // Asked again, it is not waited for nor reported a second time.
    const auto before = std::chrono::steady_clock::now();
    ASSERT_TRUE(dev_.SetCommState(h, dcb));
    EXPECT_LT(std::chrono::steady_clock::now() - before, 900ms);
    EXPECT_TRUE(Events(h, 0).empty());
    std::uint32_t lines = 0;
    EXPECT_TRUE(dev_.GetCommOutputLines(h, &lines));
    EXPECT_EQ(lines, SERIAL_DTR_STATE | SERIAL_RTS_STATE);
    EXPECT_TRUE(dev_.CloseHandle(h));
}

TEST_F(NetPortTest, EveryByteValueGoesBothWaysEscaped) {
    Rfc2217Server server({});
    const ComHandle h = Open(server);
    std::string all;
    for (int i = 0; i < 512; ++i) all.push_back(static_cast<char>(255 - i % 256));
    NetTransfer t(dev_, h);
    EXPECT_EQ(t.Write(all), long(all.size()));
    EXPECT_EQ(t.Read(all.size()), all);
    EXPECT_EQ(server.Data(), all);
    LineCounters counters;
    ASSERT_TRUE(dev_.GetLineCounters(h, &counters));
    EXPECT_EQ(counters.sent, all.size());
    EXPECT_EQ(counters.received, all.size());
    EXPECT_FALSE(counters.kernel.has_value());
    TransferTimes times;
    ASSERT_TRUE(dev_.GetTransferTimes(h, false, &times));
    EXPECT_TRUE(times.first.Valid());
    EXPECT_LE(times.first.monoUs, times.last.monoUs);
    EXPECT_TRUE(dev_.CloseHandle(h));
}

TEST_F(NetPortTest, NotificationsBecomeLineEventsAndLineControlReachesTheServer) {
    Rfc2217Server server({});
    const ComHandle h = Open(server);
    ASSERT_TRUE(dev_.SetCommMask(h, EV_LINEEVENT | EV_CTS | EV_BREAK));
    // Modem state CTS and DSR on; line state break and framing error.
    server.SendRaw("\xFF\xFA\x2C\x6B\x30\xFF\xF0\xFF\xFA\x2C\x6A\x18\xFF\xF0");
    const auto events = Events(h, 4);
    std::vector<std::string> names;
    for (const LineEvent& e : events)
        names.push_back(std::string(LineEventName(e.kind)) + (e.state ? " on" : ""));
    EXPECT_EQ(names, (std::vector<std::string>{"CTS on", "DSR on", "break", "frame error"}));
    EXPECT_EQ(errors_ & (CE_BREAK | CE_FRAME), CE_BREAK | CE_FRAME);
    std::uint32_t modem = 0;
    ASSERT_TRUE(dev_.GetCommModemStatus(h, &modem));
    EXPECT_EQ(modem, MS_CTS_ON | MS_DSR_ON);
    for (const std::uint32_t f : {SETBREAK, CLRBREAK, CLRDTR, SETRTS}) ASSERT_TRUE(dev_.EscapeCommFunction(h, f));
    ASSERT_TRUE(dev_.PurgeComm(h, PURGE_RXCLEAR));
    EXPECT_TRUE(WaitUntil([&] {
        return Asked(server, {5, 5}) && Asked(server, {5, 6}) && Asked(server, {5, 9}) &&
               Asked(server, {5, 11}) && Asked(server, {12, 1});
    }));
    EXPECT_TRUE(dev_.CloseHandle(h));
}

TEST_F(NetPortTest, AnOpenThatFailsSaysWhatFailed) {
    Rfc2217Server::Options refuse, keepSilent;
    refuse.negotiation = Rfc2217Server::Negotiation::kRefuse;
    keepSilent.negotiation = Rfc2217Server::Negotiation::kSilent;
    Rfc2217Server refusing(refuse);
    Rfc2217Server silent(keepSilent);
    std::string closed;
    {
        Rfc2217Server gone({});
        closed = gone.Url();
    }
    const std::pair<std::string, int> rows[] = {
        {refusing.Url(), ENOPROTOOPT},
        {silent.Url(), ETIME},
        {closed, ECONNREFUSED},
        {"rfc2217://127.0.0.1", EINVAL},
        {"rfc2217://no-such-host.invalid:2217", net::kNameNotResolved},
    };
    for (const auto& [name, error] : rows) {
        SCOPED_TRACE(name);
        EXPECT_EQ(dev_.CreateFileA(name), INVALID_HANDLE_VALUE);
        EXPECT_EQ(dev_.GetLastError(), error);
    }
    // A name from /etc/hosts resolves.
    Rfc2217Server named({});
    const ComHandle h = dev_.CreateFileA("rfc2217://localhost:" + std::to_string(named.Port()));
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << dev_.GetLastError();
    EXPECT_TRUE(dev_.CloseHandle(h));
}

// A name server that never answers costs the limit, not the resolver's own
// round of retries; the lookup left behind ends on its own.
TEST(ResolveTest, ALookupThatHangsEndsAtTheLimit) {
    auto release = std::make_shared<std::promise<void>>();
    std::shared_future<void> released = release->get_future().share();
    const auto hanging = [released](const std::string&, const std::string&, addrinfo**) {
        released.wait();
        return EAI_AGAIN;
    };
    const auto before = std::chrono::steady_clock::now();
    int error = 0;
    EXPECT_FALSE(net::ResolveWithin("dead.example", 2217, 300ms, &error, hanging));
    EXPECT_EQ(error, net::kNameNotResolved);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 3s);
    release->set_value();
    EXPECT_TRUE(net::ResolveWithin("localhost", 2217, 5s, &error));
    EXPECT_EQ(error, 0);
}

TEST_F(NetPortTest, MalformedEndlessOrDroppedInputLosesTheLineAndSaysWhy) {
    const std::string endless = "\xFF\xFA\x2C\x01" + std::string(4000, 'x');
    const std::pair<std::string, std::string> rows[] = {
        {std::string("ok\xFF\x07", 4),
         "broke the Telnet protocol: it sent a Telnet command byte 7 that has no meaning after "
         "IAC"},
        {endless, "broke the Telnet protocol: it sent a Telnet subnegotiation longer than 512"},
        {std::string(), "closed the connection"},
    };
    for (const auto& [bad, why] : rows) {
        SCOPED_TRACE(bad.size());
        Rfc2217Server server({});
        const ComHandle h = Open(server);
        ASSERT_TRUE(dev_.SetCommMask(h, EV_LINEEVENT));
        if (bad.empty())
            server.Drop();
        else
            server.SendRaw(bad);
        const auto events = Events(h, 1);
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(events.back().kind, LineEventKind::kLost);
        EXPECT_EQ(events.back().reason.rfind("the server at 127.0.0.1:", 0), 0u)
            << events.back().reason;
        EXPECT_NE(events.back().reason.find(why), std::string::npos) << events.back().reason;
        NetTransfer t(dev_, h);
        EXPECT_LT(t.Write("x"), 0);
        EXPECT_TRUE(dev_.CloseHandle(h));
    }
}

}  // namespace
}  // namespace cport::device
