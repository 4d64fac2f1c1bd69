#include "serial/device/line_plan.h"

#include <gtest/gtest.h>
#include <termios.h>

#include <cerrno>
#include <functional>

namespace cport::device {
namespace {

DCB Base() {
    DCB d;
    d.BaudRate = 19200;
    return d;
}

TEST(LinePlan, Refusals) {
    struct Case {
        const char* what;
        std::function<void(DCB&)> change;
        bool hasLines;
        int result;
    };
    const Case cases[] = {
        {"8N1", [](DCB&) {}, true, 0},
        {"rate 0", [](DCB& d) { d.BaudRate = 0; }, false, EINVAL},
        {"4 data bits", [](DCB& d) { d.ByteSize = 4; }, false, EINVAL},
        {"9 data bits", [](DCB& d) { d.ByteSize = 9; }, false, EINVAL},
        {"parity 5", [](DCB& d) { d.Parity = 5; }, false, EINVAL},
        {"1.5 stop with 8 bits", [](DCB& d) { d.StopBits = ONE5STOPBITS; }, false, EINVAL},
        {"1.5 stop with 5 bits",
         [](DCB& d) {
             d.StopBits = ONE5STOPBITS;
             d.ByteSize = 5;
         },
         false, 0},
        {"2 stop with 5 bits",
         [](DCB& d) {
             d.StopBits = TWOSTOPBITS;
             d.ByteSize = 5;
         },
         false, EINVAL},
        {"equal XON/XOFF",
         [](DCB& d) {
             d.Flags |= DCB_fOutX;
             d.XonChar = d.XoffChar;
         },
         false, EINVAL},
        {"abort on error", [](DCB& d) { d.Flags |= DCB_fAbortOnError; }, false, EINVAL},
        {"DSR flow with lines", [](DCB& d) { d.Flags |= DCB_fOutxDsrFlow; }, true, EINVAL},
        {"DSR flow without lines", [](DCB& d) { d.Flags |= DCB_fOutxDsrFlow; }, false, 0},
        {"DTR handshake with lines", [](DCB& d) { d.Flags |= DTR_CONTROL_HANDSHAKE; }, true,
         EINVAL},
        {"RTS toggle with lines", [](DCB& d) { d.Flags |= RTS_CONTROL_TOGGLE; }, true, EINVAL},
        {"RTS handshake", [](DCB& d) { d.Flags |= RTS_CONTROL_HANDSHAKE; }, true, 0},
    };
    for (const Case& c : cases) {
        DCB d = Base();
        c.change(d);
        LinePlan plan;
        EXPECT_EQ(PlanLine(d, KernelLine{}, c.hasLines, &plan), c.result) << c.what;
    }
}

TEST(LinePlan, FieldsBecomeTermios) {
    struct Case {
        std::uint8_t size, parity, stop;
        std::uint32_t cflag;
    };
    const Case cases[] = {
        {8, NOPARITY, ONESTOPBIT, CS8},
        {7, EVENPARITY, ONESTOPBIT, CS7 | PARENB},
        {7, ODDPARITY, TWOSTOPBITS, CS7 | PARENB | PARODD | CSTOPB},
        {8, MARKPARITY, ONESTOPBIT, CS8 | PARENB | PARODD | CMSPAR},
        {6, SPACEPARITY, ONESTOPBIT, CS6 | PARENB | CMSPAR},
        {5, NOPARITY, ONE5STOPBITS, CS5 | CSTOPB},
    };
    for (const Case& c : cases) {
        DCB d = Base();
        d.ByteSize = c.size;
        d.Parity = c.parity;
        d.StopBits = c.stop;
        LinePlan plan;
        ASSERT_EQ(PlanLine(d, KernelLine{}, false, &plan), 0);
        EXPECT_EQ(plan.line.cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB), c.cflag)
            << int(c.size) << " " << int(c.parity) << " " << int(c.stop);
        EXPECT_EQ(plan.line.cflag & (CREAD | CLOCAL), unsigned(CREAD | CLOCAL));
        EXPECT_EQ(plan.line.outSpeed, 19200u);
    }

    DCB d = Base();
    d.Flags |= DCB_fParity | DCB_fErrorChar | DCB_fNull | DCB_fOutX | DCB_fInX | DCB_fOutxCtsFlow |
               DTR_CONTROL_ENABLE | RTS_CONTROL_ENABLE;
    d.ErrorChar = '?';
    d.EvtChar = '\n';
    d.XonChar = 1;
    d.XoffChar = 2;
    KernelLine current;
    current.lflag = ICANON | ECHO;
    current.cflag = HUPCL;
    LinePlan plan;
    ASSERT_EQ(PlanLine(d, current, true, &plan), 0);
    EXPECT_EQ(plan.line.lflag, 0u);
    EXPECT_EQ(plan.line.iflag, unsigned(IGNBRK | INPCK | PARMRK | IXON | IXOFF));
    EXPECT_NE(plan.line.cflag & CRTSCTS, 0u);
    EXPECT_NE(plan.line.cflag & HUPCL, 0u);
    EXPECT_EQ(plan.line.cc[VSTART], 1);
    EXPECT_EQ(plan.line.cc[VSTOP], 2);
    EXPECT_EQ(plan.line.cc[VMIN], 1);
    EXPECT_EQ(plan.dtr, LineAction::kSet);
    EXPECT_EQ(plan.rts, LineAction::kSet);
    EXPECT_TRUE(plan.input.parityMarks);
    EXPECT_TRUE(plan.input.replace);
    EXPECT_EQ(plan.input.replaceChar, '?');
    EXPECT_TRUE(plan.input.discardNull);
    EXPECT_EQ(plan.input.eventChar, '\n');

    // Replacement acts only together with checking.
    d.Flags &= ~DCB_fParity;
    ASSERT_EQ(PlanLine(d, current, true, &plan), 0);
    EXPECT_FALSE(plan.input.replace);
    EXPECT_EQ(plan.line.iflag & (INPCK | PARMRK), 0u);
}

TEST(LinePlan, ReadBackComparison) {
    LinePlan plan;
    DCB d = Base();
    d.ByteSize = 7;
    d.Parity = EVENPARITY;
    ASSERT_EQ(PlanLine(d, KernelLine{}, false, &plan), 0);
    KernelLine ptyGot = plan.line;  // what a pty makes of it
    ptyGot.cflag = (ptyGot.cflag & ~(CSIZE | PARENB)) | CS8;
    EXPECT_TRUE(LineTaken(plan.line, plan.line, false));
    EXPECT_FALSE(LineTaken(plan.line, ptyGot, false));
    EXPECT_TRUE(LineTaken(plan.line, ptyGot, true));
    KernelLine slower = plan.line;
    slower.outSpeed = 9600;
    EXPECT_FALSE(LineTaken(plan.line, slower, true));
    KernelLine noStop = plan.line;
    noStop.cflag ^= CSTOPB;
    EXPECT_FALSE(LineTaken(plan.line, noStop, true));
}

}  // namespace
}  // namespace cport::device
