#include <gtest/gtest.h>

#include <QObject>
#include <QPointer>
#include <functional>
#include <string>
#include <vector>

#include "counting_port.h"
#include "serial/port/com_buffer.h"
#include "serial/port/com_conversions.h"
#include "serial/port/com_flow_control.h"
#include "serial/port/com_parity.h"
#include "serial/port/com_timeouts.h"

namespace cport {
namespace {

using testutil::CountingPort;
using Calls = std::vector<std::string>;

TEST(ComPortSettings, InitialValues) {
    TComPort port;
    EXPECT_FALSE(port.Connected());
    EXPECT_FALSE(port.Loading());
    EXPECT_EQ(port.BaudRate(), br9600);
    EXPECT_EQ(port.Port(), "COM1");
    EXPECT_EQ(port.StopBits(), sbOneStopBit);
    EXPECT_EQ(port.DataBits(), dbEight);
    EXPECT_FALSE(port.DiscardNull());
    EXPECT_EQ(port.EventChar(), '\0');
    EXPECT_EQ(port.Events().ToBits(), 0x03FF);
    EXPECT_EQ(port.SyncMethod(), smThreadSync);
    EXPECT_EQ(port.CustomBaudRate(), 9600);
    EXPECT_EQ(port.StoredGroups(), TStoredGroups{sgBasic});
    EXPECT_EQ(port.StoredGroups().ToBits(), 1);

    EXPECT_EQ(port.Parity().Bits(), prNone);
    EXPECT_FALSE(port.Parity().Check());
    EXPECT_FALSE(port.Parity().Replace());
    EXPECT_EQ(port.Parity().ReplaceChar(), '\0');

    const auto& flow = port.FlowControl();
    EXPECT_FALSE(flow.OutCTSFlow());
    EXPECT_FALSE(flow.OutDSRFlow());
    EXPECT_EQ(flow.ControlDTR(), dtrDisable);
    EXPECT_EQ(flow.ControlRTS(), rtsDisable);
    EXPECT_FALSE(flow.XonXoffOut());
    EXPECT_FALSE(flow.XonXoffIn());
    EXPECT_FALSE(flow.DSRSensitivity());
    EXPECT_FALSE(flow.TxContinueOnXoff());
    EXPECT_EQ(flow.XonChar(), 0x11);
    EXPECT_EQ(flow.XoffChar(), 0x13);
    EXPECT_EQ(flow.FlowControl(), fcNone);

    EXPECT_EQ(port.Timeouts().ReadInterval(), -1);
    EXPECT_EQ(port.Timeouts().ReadTotalMultiplier(), 0);
    EXPECT_EQ(port.Timeouts().ReadTotalConstant(), 0);
    EXPECT_EQ(port.Timeouts().WriteTotalMultiplier(), 100);
    EXPECT_EQ(port.Timeouts().WriteTotalConstant(), 1000);
    EXPECT_EQ(port.Buffer().InputSize(), 1024);
    EXPECT_EQ(port.Buffer().OutputSize(), 1024);

    for (const TComSettingsObject* part : std::initializer_list<const TComSettingsObject*>{
             &port.Parity(), &port.FlowControl(), &port.Timeouts(), &port.Buffer()}) {
        EXPECT_EQ(part->ComPort(), &port);
    }
    EXPECT_FALSE(port.OnRxChar());
    EXPECT_FALSE(port.OnAfterOpen());
    EXPECT_FALSE(port.OnError());
}

TEST(ComPortSettings, OwnerAndName) {
    auto* owner = new QObject;
    QPointer<TComPort> port = new TComPort(owner);
    port->setObjectName("C1");
    EXPECT_EQ(owner->findChild<TComPort*>("C1"), port.data());
    EXPECT_STREQ(port->metaObject()->className(), "cport::TComPort");
    delete owner;
    EXPECT_TRUE(port.isNull());
}

// One setting of the general rule: a change to a value that differs from the
// initial one, a check that it was stored, and the group it re-applies.
struct RuleRow {
    const char* name;
    std::function<void(CountingPort&)> change;
    std::function<bool(const CountingPort&)> stored;
    const char* group;
};

std::vector<RuleRow> RuleRows() {
    return {
        {"BaudRate", [](auto& p) { p.SetBaudRate(br19200); },
         [](const auto& p) { return p.BaudRate() == br19200; }, "dcb"},
        {"StopBits", [](auto& p) { p.SetStopBits(sbTwoStopBits); },
         [](const auto& p) { return p.StopBits() == sbTwoStopBits; }, "dcb"},
        {"DataBits", [](auto& p) { p.SetDataBits(dbSeven); },
         [](const auto& p) { return p.DataBits() == dbSeven; }, "dcb"},
        {"DiscardNull", [](auto& p) { p.SetDiscardNull(true); },
         [](const auto& p) { return p.DiscardNull(); }, "dcb"},
        {"EventChar", [](auto& p) { p.SetEventChar('\r'); },
         [](const auto& p) { return p.EventChar() == '\r'; }, "dcb"},
        {"CustomBaudRate", [](auto& p) { p.SetCustomBaudRate(250000); },
         [](const auto& p) { return p.CustomBaudRate() == 250000; }, "dcb"},
        {"Parity.Bits", [](auto& p) { p.Parity().SetBits(prEven); },
         [](const auto& p) { return p.Parity().Bits() == prEven; }, "dcb"},
        {"Parity.Check", [](auto& p) { p.Parity().SetCheck(true); },
         [](const auto& p) { return p.Parity().Check(); }, "dcb"},
        {"Parity.Replace", [](auto& p) { p.Parity().SetReplace(true); },
         [](const auto& p) { return p.Parity().Replace(); }, "dcb"},
        {"Parity.ReplaceChar", [](auto& p) { p.Parity().SetReplaceChar('?'); },
         [](const auto& p) { return p.Parity().ReplaceChar() == '?'; }, "dcb"},
        {"FlowControl.OutCTSFlow", [](auto& p) { p.FlowControl().SetOutCTSFlow(true); },
         [](const auto& p) { return p.FlowControl().OutCTSFlow(); }, "dcb"},
        {"FlowControl.OutDSRFlow", [](auto& p) { p.FlowControl().SetOutDSRFlow(true); },
         [](const auto& p) { return p.FlowControl().OutDSRFlow(); }, "dcb"},
        {"FlowControl.ControlDTR", [](auto& p) { p.FlowControl().SetControlDTR(dtrEnable); },
         [](const auto& p) { return p.FlowControl().ControlDTR() == dtrEnable; }, "dcb"},
        {"FlowControl.ControlRTS", [](auto& p) { p.FlowControl().SetControlRTS(rtsToggle); },
         [](const auto& p) { return p.FlowControl().ControlRTS() == rtsToggle; }, "dcb"},
        {"FlowControl.XonXoffOut", [](auto& p) { p.FlowControl().SetXonXoffOut(true); },
         [](const auto& p) { return p.FlowControl().XonXoffOut(); }, "dcb"},
        {"FlowControl.XonXoffIn", [](auto& p) { p.FlowControl().SetXonXoffIn(true); },
         [](const auto& p) { return p.FlowControl().XonXoffIn(); }, "dcb"},
        {"FlowControl.DSRSensitivity", [](auto& p) { p.FlowControl().SetDSRSensitivity(true); },
         [](const auto& p) { return p.FlowControl().DSRSensitivity(); }, "dcb"},
        {"FlowControl.TxContinueOnXoff", [](auto& p) { p.FlowControl().SetTxContinueOnXoff(true); },
         [](const auto& p) { return p.FlowControl().TxContinueOnXoff(); }, "dcb"},
        {"FlowControl.XonChar", [](auto& p) { p.FlowControl().SetXonChar('Q'); },
         [](const auto& p) { return p.FlowControl().XonChar() == 'Q'; }, "dcb"},
        {"FlowControl.XoffChar", [](auto& p) { p.FlowControl().SetXoffChar('S'); },
         [](const auto& p) { return p.FlowControl().XoffChar() == 'S'; }, "dcb"},
        {"Timeouts.ReadInterval", [](auto& p) { p.Timeouts().SetReadInterval(50); },
         [](const auto& p) { return p.Timeouts().ReadInterval() == 50; }, "timeouts"},
        {"Timeouts.ReadTotalMultiplier", [](auto& p) { p.Timeouts().SetReadTotalMultiplier(2); },
         [](const auto& p) { return p.Timeouts().ReadTotalMultiplier() == 2; }, "timeouts"},
        {"Timeouts.ReadTotalConstant", [](auto& p) { p.Timeouts().SetReadTotalConstant(7); },
         [](const auto& p) { return p.Timeouts().ReadTotalConstant() == 7; }, "timeouts"},
        {"Timeouts.WriteTotalMultiplier", [](auto& p) { p.Timeouts().SetWriteTotalMultiplier(-1); },
         [](const auto& p) { return p.Timeouts().WriteTotalMultiplier() == -1; }, "timeouts"},
        {"Timeouts.WriteTotalConstant", [](auto& p) { p.Timeouts().SetWriteTotalConstant(0); },
         [](const auto& p) { return p.Timeouts().WriteTotalConstant() == 0; }, "timeouts"},
        {"Buffer.InputSize", [](auto& p) { p.Buffer().SetInputSize(4096); },
         [](const auto& p) { return p.Buffer().InputSize() == 4096; }, "buffer"},
        {"Buffer.OutputSize", [](auto& p) { p.Buffer().SetOutputSize(2048); },
         [](const auto& p) { return p.Buffer().OutputSize() == 2048; }, "buffer"},
    };
}

TEST(ComPortSettings, GeneralRuleOnClosedPortOnlyStores) {
    for (const auto& row : RuleRows()) {
        SCOPED_TRACE(row.name);
        CountingPort port;
        row.change(port);
        EXPECT_TRUE(row.stored(port));
        EXPECT_EQ(port.calls, Calls{});
    }
}

TEST(ComPortSettings, GeneralRuleOnOpenPortReappliesItsGroupOnce) {
    for (const auto& row : RuleRows()) {
        SCOPED_TRACE(row.name);
        CountingPort port;
        port.OpenQuietly();
        row.change(port);
        EXPECT_TRUE(row.stored(port));
        EXPECT_EQ(port.calls, Calls{row.group});
        // The same value again hands nothing over.
        port.calls.clear();
        row.change(port);
        EXPECT_EQ(port.calls, Calls{});
        EXPECT_TRUE(port.Connected());
    }
}

TEST(ComPortSettings, GeneralRuleWhileLoadingOnlyStores) {
    for (const auto& row : RuleRows()) {
        SCOPED_TRACE(row.name);
        CountingPort port;
        port.OpenQuietly();
        port.BeginLoading();
        row.change(port);
        EXPECT_TRUE(row.stored(port));
        EXPECT_EQ(port.calls, Calls{});
    }
}

TEST(ComPortSettings, FreeStandingSubObjectsOnlyStore) {
    TComParity parity;
    TComFlowControl flow;
    TComTimeouts timeouts;
    TComBuffer buffer;
    EXPECT_EQ(parity.ComPort(), nullptr);
    parity.SetBits(prMark);
    flow.SetFlowControl(fcSoftware);
    timeouts.SetReadInterval(3);
    buffer.SetInputSize(513);
    EXPECT_EQ(parity.Bits(), prMark);
    EXPECT_EQ(flow.FlowControl(), fcSoftware);
    EXPECT_EQ(timeouts.ReadInterval(), 3);
    EXPECT_EQ(buffer.InputSize(), 512);
}

TEST(ComPortSettings, RefusedReapplyKeepsValueAndPortOpen) {
    CountingPort port;
    port.OpenQuietly();
    port.failApplyDCB = true;
    try {
        port.SetBaudRate(br115200);
        FAIL() << "no error";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode(), 7);
        EXPECT_EQ(e.WinErrorCode(), 22);
    }
    EXPECT_EQ(port.BaudRate(), br115200);
    EXPECT_TRUE(port.Connected());
}

TEST(ComPortSettings, InputSizeRounding) {
    struct Step {
        std::int32_t set;
        std::int32_t stored;
        Calls calls;
    };
    // The comparison is made with the stored, rounded value.
    const Step steps[] = {
        {1025, 1024, {"buffer"}},
        {1025, 1024, {"buffer"}},
        {1024, 1024, {}},
        {-3, -3, {"buffer"}},
        {-3, -3, {}},
        {0, 0, {"buffer"}},
        {1, 0, {"buffer"}},
        {2, 2, {"buffer"}},
        {2147483647, 2147483646, {"buffer"}},
    };
    CountingPort port;
    port.OpenQuietly();
    for (const auto& step : steps) {
        SCOPED_TRACE(step.set);
        port.calls.clear();
        port.Buffer().SetInputSize(step.set);
        EXPECT_EQ(port.Buffer().InputSize(), step.stored);
        EXPECT_EQ(port.calls, step.calls);
    }
    port.calls.clear();
    port.Buffer().SetOutputSize(1025);
    EXPECT_EQ(port.Buffer().OutputSize(), 1024);
    EXPECT_EQ(port.calls, Calls{"buffer"});
}

TEST(ComPortSettings, FlowControlPresetRead) {
    struct Row {
        TRTSFlowControl rts;
        bool cts, xonIn, xonOut;
        TFlowControl expected;
    };
    const Row rows[] = {
        {rtsHandshake, true, false, false, fcHardware}, {rtsDisable, false, true, true, fcSoftware},
        {rtsDisable, false, false, false, fcNone},      {rtsHandshake, true, true, false, fcCustom},
        {rtsHandshake, false, false, false, fcCustom},  {rtsEnable, true, false, false, fcCustom},
        {rtsDisable, false, true, false, fcCustom},     {rtsDisable, false, false, true, fcCustom},
        {rtsDisable, true, true, true, fcCustom},       {rtsEnable, false, false, false, fcCustom},
        {rtsToggle, false, true, true, fcCustom},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << int(row.rts) << row.cts << row.xonIn << row.xonOut);
        TComFlowControl flow;
        flow.SetControlRTS(row.rts);
        flow.SetOutCTSFlow(row.cts);
        flow.SetXonXoffIn(row.xonIn);
        flow.SetXonXoffOut(row.xonOut);
        EXPECT_EQ(flow.FlowControl(), row.expected);
        // The other six fields never influence the preset.
        flow.SetControlDTR(dtrHandshake);
        flow.SetOutDSRFlow(true);
        flow.SetDSRSensitivity(true);
        flow.SetTxContinueOnXoff(true);
        flow.SetXonChar('a');
        flow.SetXoffChar('b');
        EXPECT_EQ(flow.FlowControl(), row.expected);
    }
}

TEST(ComPortSettings, FlowControlPresetWrite) {
    struct Row {
        TFlowControl preset;
        TRTSFlowControl rts;
        bool cts, xonIn, xonOut;
    };
    // Starting from a custom mix: rtsToggle, CTS and XonXoffIn on.
    const Row rows[] = {
        {fcHardware, rtsHandshake, true, false, false},
        {fcSoftware, rtsDisable, false, true, true},
        {fcNone, rtsDisable, false, false, false},
        {fcCustom, rtsToggle, true, true, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(FlowControlToText(row.preset));
        CountingPort port;
        auto& flow = port.FlowControl();
        flow.SetControlRTS(rtsToggle);
        flow.SetOutCTSFlow(true);
        flow.SetXonXoffIn(true);
        flow.SetControlDTR(dtrEnable);
        flow.SetOutDSRFlow(true);
        flow.SetXonChar('x');
        port.OpenQuietly();

        flow.SetFlowControl(row.preset);
        EXPECT_EQ(flow.ControlRTS(), row.rts);
        EXPECT_EQ(flow.OutCTSFlow(), row.cts);
        EXPECT_EQ(flow.XonXoffIn(), row.xonIn);
        EXPECT_EQ(flow.XonXoffOut(), row.xonOut);
        EXPECT_EQ(flow.ControlDTR(), dtrEnable);
        EXPECT_TRUE(flow.OutDSRFlow());
        EXPECT_EQ(flow.XonChar(), 'x');
        // Every preset write re-applies, even one that changes nothing.
        EXPECT_EQ(port.calls, Calls{"dcb"});
        port.calls.clear();
        flow.SetFlowControl(row.preset);
        EXPECT_EQ(port.calls, Calls{"dcb"});
    }
}

TEST(ComPortSettings, FlowControlPresetSurvivesDTRButNotXonXoff) {
    TComFlowControl flow;
    flow.SetFlowControl(fcHardware);
    EXPECT_EQ(flow.FlowControl(), fcHardware);
    flow.SetControlDTR(dtrHandshake);
    EXPECT_EQ(flow.FlowControl(), fcHardware);
    flow.SetXonXoffOut(true);
    EXPECT_EQ(flow.FlowControl(), fcCustom);
}

TEST(ComPortSettings, WholeObjectCopyAlwaysReapplies) {
    struct Row {
        const char* name;
        std::function<void(CountingPort&, const TComSettingsObject&)> set;
        std::function<TComSettingsObject&(CountingPort&)> own;
        const char* group;
    };
    const Row rows[] = {
        {"Parity", [](auto& p, const auto& v) { p.SetParity(v); },
         [](auto& p) -> TComSettingsObject& { return p.Parity(); }, "dcb"},
        {"FlowControl", [](auto& p, const auto& v) { p.SetFlowControl(v); },
         [](auto& p) -> TComSettingsObject& { return p.FlowControl(); }, "dcb"},
        {"Timeouts", [](auto& p, const auto& v) { p.SetTimeouts(v); },
         [](auto& p) -> TComSettingsObject& { return p.Timeouts(); }, "timeouts"},
        {"Buffer", [](auto& p, const auto& v) { p.SetBuffer(v); },
         [](auto& p) -> TComSettingsObject& { return p.Buffer(); }, "buffer"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        CountingPort port;
        row.set(port, row.own(port));  // closed: stores only
        EXPECT_EQ(port.calls, Calls{});
        port.OpenQuietly();
        TComSettingsObject* own = &row.own(port);
        // Copying the port's own, unchanged settings still re-applies.
        row.set(port, *own);
        EXPECT_EQ(port.calls, Calls{row.group});
        EXPECT_EQ(&row.own(port), own);
        EXPECT_EQ(own->ComPort(), &port);
    }
}

TEST(ComPortSettings, WholeObjectCopyTakesEverySetting) {
    TComFlowControl flow;
    flow.SetOutCTSFlow(true);
    flow.SetOutDSRFlow(true);
    flow.SetControlDTR(dtrHandshake);
    flow.SetControlRTS(rtsToggle);
    flow.SetXonXoffOut(true);
    flow.SetXonXoffIn(true);
    flow.SetDSRSensitivity(true);
    flow.SetTxContinueOnXoff(true);
    flow.SetXonChar('1');
    flow.SetXoffChar('2');
    TComParity parity;
    parity.SetBits(prOdd);
    parity.SetCheck(true);
    parity.SetReplace(true);
    parity.SetReplaceChar('~');
    TComTimeouts timeouts;
    timeouts.SetReadInterval(1);
    timeouts.SetReadTotalMultiplier(2);
    timeouts.SetReadTotalConstant(3);
    timeouts.SetWriteTotalMultiplier(4);
    timeouts.SetWriteTotalConstant(5);
    TComBuffer buffer;
    buffer.SetInputSize(100);
    buffer.SetOutputSize(-8);

    TComPort port;
    port.SetFlowControl(flow);
    port.SetParity(parity);
    port.SetTimeouts(timeouts);
    port.SetBuffer(buffer);

    const auto& f = port.FlowControl();
    EXPECT_TRUE(f.OutCTSFlow() && f.OutDSRFlow() && f.XonXoffOut() && f.XonXoffIn() &&
                f.DSRSensitivity() && f.TxContinueOnXoff());
    EXPECT_EQ(f.ControlDTR(), dtrHandshake);
    EXPECT_EQ(f.ControlRTS(), rtsToggle);
    EXPECT_EQ(f.XonChar(), '1');
    EXPECT_EQ(f.XoffChar(), '2');
    EXPECT_EQ(f.ComPort(), &port);
    EXPECT_EQ(flow.ComPort(), nullptr);
    EXPECT_EQ(port.Parity().Bits(), prOdd);
    EXPECT_TRUE(port.Parity().Check() && port.Parity().Replace());
    EXPECT_EQ(port.Parity().ReplaceChar(), '~');
    const auto& t = port.Timeouts();
    EXPECT_EQ(std::vector<int>({t.ReadInterval(), t.ReadTotalMultiplier(), t.ReadTotalConstant(),
                                t.WriteTotalMultiplier(), t.WriteTotalConstant()}),
              std::vector<int>({1, 2, 3, 4, 5}));
    EXPECT_EQ(port.Buffer().InputSize(), 100);
    EXPECT_EQ(port.Buffer().OutputSize(), -8);
}

TEST(ComPortSettings, CopyFromDerivedClassWorks) {
    class TMyParity : public TComParity {};
    TMyParity mine;
    mine.SetBits(prSpace);
    TComPort port;
    port.SetParity(mine);
    EXPECT_EQ(port.Parity().Bits(), prSpace);
}

TEST(ComPortSettings, CopyFromAnotherClassFailsAndChangesNothing) {
    CountingPort port;
    port.Parity().SetBits(prEven);
    port.OpenQuietly();
    TComBuffer buffer;
    buffer.SetInputSize(64);
    try {
        port.SetParity(buffer);
        FAIL() << "no error";
    } catch (const EAssignError& e) {
        EXPECT_STREQ(e.what(), "Cannot assign a TComBuffer to a TComParity");
    }
    EXPECT_EQ(port.Parity().Bits(), prEven);
    EXPECT_THROW(port.SetBuffer(port.Parity()), EAssignError);
    EXPECT_THROW(port.SetTimeouts(port.FlowControl()), EAssignError);
    EXPECT_THROW(port.SetFlowControl(port.Timeouts()), EAssignError);
    EXPECT_EQ(port.Buffer().InputSize(), 1024);
    EXPECT_EQ(port.calls, Calls{});
}

TEST(ComPortSettings, ConnectedOpensAndCloses) {
    CountingPort port;
    port.SetConnected(false);
    EXPECT_EQ(port.calls, Calls{});
    port.SetConnected(true);
    port.SetConnected(true);
    EXPECT_TRUE(port.Connected());
    port.SetConnected(false);
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.calls, (Calls{"open COM1", "close"}));

    port.calls.clear();
    port.failOpen = true;
    EXPECT_THROW(port.SetConnected(true), EComPort);
    EXPECT_FALSE(port.Connected());
}

TEST(ComPortSettings, PortChange) {
    CountingPort port;
    port.SetPort("COM2");
    EXPECT_EQ(port.Port(), "COM2");
    EXPECT_EQ(port.calls, Calls{});

    port.OpenQuietly();
    port.SetPort("COM2");
    EXPECT_EQ(port.calls, Calls{});
    // Case matters: com2 is another name.
    port.SetPort("com2");
    EXPECT_EQ(port.calls, (Calls{"close", "open com2"}));
    EXPECT_TRUE(port.Connected());

    port.calls.clear();
    port.failOpen = true;
    try {
        port.SetPort("/dev/ttyUSB9");
        FAIL() << "no error";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode(), 1);
        EXPECT_EQ(e.WinErrorCode(), 2);
    }
    EXPECT_EQ(port.Port(), "/dev/ttyUSB9");
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.calls, (Calls{"close", "open /dev/ttyUSB9"}));
}

TEST(ComPortSettings, SyncMethod) {
    CountingPort port;
    port.SetSyncMethod(smWindowSync);
    EXPECT_EQ(port.SyncMethod(), smWindowSync);

    port.OpenQuietly();
    port.SetSyncMethod(smWindowSync);  // equal: no error
    try {
        port.SetSyncMethod(smNone);
        FAIL() << "no error";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode(), 14);
        EXPECT_EQ(e.WinErrorCode(), -1);
        EXPECT_STREQ(e.what(), "Cannot set property while connected");
    }
    EXPECT_EQ(port.SyncMethod(), smWindowSync);
    EXPECT_EQ(port.calls, Calls{});

    port.SetConnected(false);
    port.SetSyncMethod(smNone);
    EXPECT_EQ(port.SyncMethod(), smNone);
}

TEST(ComPortSettings, EventsAreStoredOnly) {
    CountingPort port;
    port.OpenQuietly();
    port.SetEvents({evRxChar, evError});
    EXPECT_EQ(port.Events(), (TComEvents{evError, evRxChar}));
    EXPECT_EQ(port.Events().ToBits(), 0x0081);
    port.SetEvents({});
    EXPECT_TRUE(port.Events().Empty());
    EXPECT_EQ(port.calls, Calls{});
}

TEST(ComPortSettings, LoadingStoresAndOpensAtTheEnd) {
    CountingPort port;
    port.BeginLoading();
    port.SetConnected(true);
    port.SetBaudRate(br19200);
    port.SetPort("COM3");
    port.SetSyncMethod(smWindowSync);  // stored: the port is not open yet
    port.Parity().SetBits(prEven);
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(port.calls, Calls{});
    port.EndLoading();
    EXPECT_FALSE(port.Loading());
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(port.calls, Calls{"open COM3"});
    EXPECT_EQ(port.SyncMethod(), smWindowSync);
}

TEST(ComPortSettings, NotifyCallsOnlyAssignedHandlers) {
    class Port : public TComPort {
      public:
        void Fire() {
            NotifyRxChar(5);
            NotifyCTSChange(true);
            NotifyError(TComErrors{ceFrame, ceOverrun});
            NotifyAfterOpen();
            NotifyRing();  // unassigned: nothing
        }
    } port;
    std::vector<std::string> seen;
    port.SetOnRxChar([&](QObject* sender, std::int32_t count) {
        EXPECT_EQ(sender, &port);
        seen.push_back("rx " + std::to_string(count));
    });
    port.SetOnCTSChange([&](QObject*, bool on) { seen.push_back(on ? "cts on" : "cts off"); });
    port.SetOnError(
        [&](QObject*, TComErrors e) { seen.push_back("err " + std::to_string(e.ToBits())); });
    port.SetOnAfterOpen([&](QObject*) { seen.push_back("after open"); });
    port.Fire();
    EXPECT_EQ(seen, (std::vector<std::string>{"rx 5", "cts on", "err 5", "after open"}));
}

}  // namespace
}  // namespace cport
