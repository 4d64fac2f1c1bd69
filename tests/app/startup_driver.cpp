// The program's whole start-up with every message box written to standard
// output instead of shown ("box|caption|icon|owner|text"), so that a test can
// run it as a process of its own and see the boxes. With TARVIK_DRIVER_START
// set, Start is clicked once the window is shown, and "started" (or "not
// started") written out.

#include <QPushButton>
#include <QTest>
#include <cstdio>
#include <cstdlib>

#include "app/frmmain.h"
#include "app/startup.h"
#include "serial/port/com_port.h"

int main(int argc, char** argv) {
    const bool start = std::getenv("TARVIK_DRIVER_START") != nullptr;
    return tarvik::RunTarvik(
        argc, argv,
        [](const tarvik::MessageBoxRequest& box) {
            std::printf("box|%s|%s|%s|%s\n", box.caption.c_str(),
                        box.icon == tarvik::MessageIcon::Error ? "error" : "information",
                        box.hasOwner ? "owner" : "no owner", box.text.c_str());
            std::fflush(stdout);
        },
        [start](tarvik::Tfrmmain& window) {
            if (!start)
                return;
            QTest::mouseClick(window.BitBtn2, Qt::LeftButton);
            std::printf(window.C1->Connected() ? "started\n" : "not started\n");
            std::fflush(stdout);
        });
}
