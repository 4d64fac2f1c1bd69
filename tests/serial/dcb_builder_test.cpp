// The device-control block and time-out record a port's settings become:
// every field at its offset, from the raw 28 bytes.

#include "serial/port/dcb_builder.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <functional>
#include <string>

#include "serial/port/com_buffer.h"
#include "serial/port/com_flow_control.h"
#include "serial/port/com_parity.h"
#include "serial/port/com_port.h"
#include "serial/port/com_timeouts.h"

namespace cport {
namespace {

using namespace device;

struct Raw {
    std::uint8_t bytes[28];

    explicit Raw(const DCB& dcb) { std::memcpy(bytes, &dcb, sizeof bytes); }
    std::uint32_t U32(std::size_t at) const {
        return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
               static_cast<std::uint32_t>(bytes[at + 3]) << 24;
    }
    std::uint16_t U16(std::size_t at) const {
        return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
    }
};

TEST(DcbBuilder, RecordLayoutIsTheContractsOne) {
    EXPECT_EQ(sizeof(DCB), 28u);
    EXPECT_EQ(offsetof(DCB, DCBlength), 0u);
    EXPECT_EQ(offsetof(DCB, BaudRate), 4u);
    EXPECT_EQ(offsetof(DCB, Flags), 8u);
    EXPECT_EQ(offsetof(DCB, wReserved), 12u);
    EXPECT_EQ(offsetof(DCB, XonLim), 14u);
    EXPECT_EQ(offsetof(DCB, XoffLim), 16u);
    EXPECT_EQ(offsetof(DCB, ByteSize), 18u);
    EXPECT_EQ(offsetof(DCB, Parity), 19u);
    EXPECT_EQ(offsetof(DCB, StopBits), 20u);
    EXPECT_EQ(offsetof(DCB, XonChar), 21u);
    EXPECT_EQ(offsetof(DCB, XoffChar), 22u);
    EXPECT_EQ(offsetof(DCB, ErrorChar), 23u);
    EXPECT_EQ(offsetof(DCB, EofChar), 24u);
    EXPECT_EQ(offsetof(DCB, EvtChar), 25u);
    EXPECT_EQ(offsetof(DCB, wReserved1), 26u);
}

TEST(DcbBuilder, InitialSettingsGiveTheWholeBlock) {
    TComPort port;
    const Raw raw(BuildDCB(port));
    // clang-format off
    const std::uint8_t expected[28] = {
        28, 0, 0, 0,           // DCBlength
        0x80, 0x25, 0, 0,      // BaudRate 9600
        0x01, 0, 0, 0,         // flags: fBinary only
        0, 0,                  // wReserved
        0, 1,                  // XonLim 256
        0, 1,                  // XoffLim 256
        8, 0, 0,               // 8 data bits, no parity, one stop bit
        0x11, 0x13, 0, 0, 0,   // XonChar, XoffChar, ErrorChar, EofChar, EvtChar
        0, 0};                 // wReserved1
    // clang-format on
    for (std::size_t i = 0; i < sizeof expected; ++i)
        EXPECT_EQ(raw.bytes[i], expected[i]) << "offset " << i;
}

struct FieldCase {
    std::string name;
    std::function<void(TComPort&)> change;
    std::size_t offset;
    int width;  // bytes: 1, 2 or 4
    std::uint32_t expected;
    // XonLim and XoffLim move together: bytes 14..17 for the buffer cases.
    bool limits = false;
};

class DcbField : public testing::TestWithParam<FieldCase> {};

TEST_P(DcbField, SettingReachesItsOffset) {
    const FieldCase& c = GetParam();
    TComPort port;
    const Raw before(BuildDCB(port));
    c.change(port);
    const Raw after(BuildDCB(port));
    const std::uint32_t got = c.width == 4   ? after.U32(c.offset)
                              : c.width == 2 ? after.U16(c.offset)
                                             : after.bytes[c.offset];
    EXPECT_EQ(got, c.expected);
    // Nothing outside the field moved.
    for (std::size_t i = 0; i < 28; ++i) {
        const bool inField = i >= c.offset && i < c.offset + static_cast<std::size_t>(c.width);
        const bool inLimits = c.limits && i >= 14 && i < 18;
        if (!inField && !inLimits) {
            EXPECT_EQ(after.bytes[i], before.bytes[i]) << "offset " << i;
        }
    }
}

const std::uint32_t kBin = DCB_fBinary;

INSTANTIATE_TEST_SUITE_P(
    EveryField, DcbField,
    testing::Values(
        FieldCase{"Baud110", [](TComPort& p) { p.SetBaudRate(br110); }, 4, 4, 110},
        FieldCase{"Baud256000", [](TComPort& p) { p.SetBaudRate(br256000); }, 4, 4, 256000},
        FieldCase{"CustomBaud",
                  [](TComPort& p) {
                      p.SetCustomBaudRate(1200);
                      p.SetBaudRate(brCustom);
                  },
                  4, 4, 1200},
        FieldCase{"CustomRateIgnoredUnlessCustom", [](TComPort& p) { p.SetCustomBaudRate(31250); },
                  4, 4, 9600},
        FieldCase{"ParityCheck", [](TComPort& p) { p.Parity().SetCheck(true); }, 8, 4,
                  kBin | DCB_fParity},
        FieldCase{"OutCTSFlow", [](TComPort& p) { p.FlowControl().SetOutCTSFlow(true); }, 8, 4,
                  kBin | 0x0004},
        FieldCase{"OutDSRFlow", [](TComPort& p) { p.FlowControl().SetOutDSRFlow(true); }, 8, 4,
                  kBin | 0x0008},
        FieldCase{"DtrEnable", [](TComPort& p) { p.FlowControl().SetControlDTR(dtrEnable); }, 8, 4,
                  kBin | 0x0010},
        FieldCase{"DtrHandshake", [](TComPort& p) { p.FlowControl().SetControlDTR(dtrHandshake); },
                  8, 4, kBin | 0x0020},
        FieldCase{"DSRSensitivity", [](TComPort& p) { p.FlowControl().SetDSRSensitivity(true); }, 8,
                  4, kBin | 0x0040},
        FieldCase{"TxContinueOnXoff",
                  [](TComPort& p) { p.FlowControl().SetTxContinueOnXoff(true); }, 8, 4,
                  kBin | 0x0080},
        FieldCase{"XonXoffOut", [](TComPort& p) { p.FlowControl().SetXonXoffOut(true); }, 8, 4,
                  kBin | 0x0100},
        FieldCase{"XonXoffIn", [](TComPort& p) { p.FlowControl().SetXonXoffIn(true); }, 8, 4,
                  kBin | 0x0200},
        FieldCase{"CheckAndReplace",
                  [](TComPort& p) {
                      p.Parity().SetCheck(true);
                      p.Parity().SetReplace(true);
                  },
                  8, 4, kBin | DCB_fParity | DCB_fErrorChar},
        FieldCase{"ReplaceWithoutCheckSetsNothing",
                  [](TComPort& p) {
                      p.Parity().SetReplace(true);
                      p.Parity().SetReplaceChar('?');
                  },
                  8, 4, kBin},
        FieldCase{"DiscardNull", [](TComPort& p) { p.SetDiscardNull(true); }, 8, 4, kBin | 0x0800},
        FieldCase{"RtsEnable", [](TComPort& p) { p.FlowControl().SetControlRTS(rtsEnable); }, 8, 4,
                  kBin | 0x1000},
        FieldCase{"RtsHandshake", [](TComPort& p) { p.FlowControl().SetControlRTS(rtsHandshake); },
                  8, 4, kBin | 0x2000},
        FieldCase{"RtsToggle", [](TComPort& p) { p.FlowControl().SetControlRTS(rtsToggle); }, 8, 4,
                  kBin | 0x3000},
        FieldCase{"XonLimQuarterOfInput", [](TComPort& p) { p.Buffer().SetInputSize(4096); }, 14, 2,
                  1024, true},
        FieldCase{"XonLimRoundsDown", [](TComPort& p) { p.Buffer().SetInputSize(1026); }, 14, 2,
                  256, true},
        FieldCase{"XonLimLow16Bits", [](TComPort& p) { p.Buffer().SetInputSize(0x50000); }, 14, 2,
                  0x4000, true},
        FieldCase{"XoffLimSameAsXonLim", [](TComPort& p) { p.Buffer().SetInputSize(4096); }, 16, 2,
                  1024, true},
        FieldCase{"DataBitsFive", [](TComPort& p) { p.SetDataBits(dbFive); }, 18, 1, 5},
        FieldCase{"DataBitsSix", [](TComPort& p) { p.SetDataBits(dbSix); }, 18, 1, 6},
        FieldCase{"DataBitsSeven", [](TComPort& p) { p.SetDataBits(dbSeven); }, 18, 1, 7},
        FieldCase{"ParityOdd", [](TComPort& p) { p.Parity().SetBits(prOdd); }, 19, 1, 1},
        FieldCase{"ParityEven", [](TComPort& p) { p.Parity().SetBits(prEven); }, 19, 1, 2},
        FieldCase{"ParityMark", [](TComPort& p) { p.Parity().SetBits(prMark); }, 19, 1, 3},
        FieldCase{"ParitySpace", [](TComPort& p) { p.Parity().SetBits(prSpace); }, 19, 1, 4},
        FieldCase{"StopBitsOneAndHalf", [](TComPort& p) { p.SetStopBits(sbOne5StopBits); }, 20, 1,
                  1},
        FieldCase{"StopBitsTwo", [](TComPort& p) { p.SetStopBits(sbTwoStopBits); }, 20, 1, 2},
        FieldCase{"XonChar", [](TComPort& p) { p.FlowControl().SetXonChar('\xA5'); }, 21, 1, 0xA5},
        FieldCase{"XoffChar", [](TComPort& p) { p.FlowControl().SetXoffChar('\x7F'); }, 22, 1,
                  0x7F},
        FieldCase{"EventChar", [](TComPort& p) { p.SetEventChar('\r'); }, 25, 1, 0x0D}),
    [](const testing::TestParamInfo<FieldCase>& row) { return row.param.name; });

TEST(DcbBuilder, ErrorCharOnlyWhileReplacing) {
    TComPort port;
    port.Parity().SetReplaceChar('#');
    port.Parity().SetReplace(true);
    EXPECT_EQ(Raw(BuildDCB(port)).bytes[23], 0);  // Check is off
    port.Parity().SetCheck(true);
    EXPECT_EQ(Raw(BuildDCB(port)).bytes[23], '#');
}

TEST(DcbBuilder, AllFlagsTogether) {
    TComPort port;
    port.Parity().SetCheck(true);
    port.Parity().SetReplace(true);
    port.SetDiscardNull(true);
    TComFlowControl& f = port.FlowControl();
    f.SetOutCTSFlow(true);
    f.SetOutDSRFlow(true);
    f.SetControlDTR(dtrHandshake);
    f.SetDSRSensitivity(true);
    f.SetTxContinueOnXoff(true);
    f.SetXonXoffOut(true);
    f.SetXonXoffIn(true);
    f.SetControlRTS(rtsToggle);
    // Every bit below fAbortOnError, fDtrControl 2; nothing above.
    EXPECT_EQ(Raw(BuildDCB(port)).U32(8), 0x3FEFu);
}

TEST(CommTimeoutsBuilder, FieldsInOrderAndMinusOneIsMaxdword) {
    TComTimeouts t;
    t.SetReadInterval(200);
    t.SetReadTotalMultiplier(201);
    t.SetReadTotalConstant(202);
    t.SetWriteTotalMultiplier(-1);
    t.SetWriteTotalConstant(203);
    const COMMTIMEOUTS r = BuildCommTimeouts(t);
    EXPECT_EQ(r.ReadIntervalTimeout, 200u);
    EXPECT_EQ(r.ReadTotalTimeoutMultiplier, 201u);
    EXPECT_EQ(r.ReadTotalTimeoutConstant, 202u);
    EXPECT_EQ(r.WriteTotalTimeoutMultiplier, MAXDWORD);
    EXPECT_EQ(r.WriteTotalTimeoutConstant, 203u);

    const COMMTIMEOUTS initial = BuildCommTimeouts(TComTimeouts());
    EXPECT_EQ(initial.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(initial.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(initial.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(initial.WriteTotalTimeoutMultiplier, 100u);
    EXPECT_EQ(initial.WriteTotalTimeoutConstant, 1000u);
}

}  // namespace
}  // namespace cport
