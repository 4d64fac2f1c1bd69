// The window during a Send that the line does not take: a pty whose master
// nobody reads, filled first, and a 256-byte command line sent with the
// window's own time-outs (the Send would wait the whole write time-out).
// Printed: the longest stall of the main thread's event loop while the Send
// waits (gap between ticks of a 1 ms timer, less 1 ms), how many ticks came,
// and how long Stop took to end the Send.
// Usage: send_stall_bench [seconds to wait before Stop] (default 3). Runs on
// the offscreen platform unless QT_QPA_PLATFORM says otherwise.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/frmmain.h"
#include "base/message_box.h"
#include "bench/window_setup.h"
#include "serial/port/com_port.h"
#include "serial/port/com_timeouts.h"

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 3;
    bench::UseOffscreenUnlessSet();
    tarvik::TApplication app(argc, argv);
    std::vector<std::string> boxes;
    bench::CollectMessageBoxes(boxes);

    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return 1;
    tarvik::Tfrmmain window(nullptr, name);
    window.show();
    window.BitBtn2->click();  // Start
    // Fill the line towards the master until the kernel takes no more.
    fcntl(slave, F_SETFL, fcntl(slave, F_GETFL) | O_NONBLOCK);
    const std::string block(4096, 'f');
    for (;;) {
        while (write(slave, block.data(), block.size()) > 0) {
        }
        pollfd fd{slave, POLLOUT, 0};
        if (poll(&fd, 1, 200) <= 0)
            break;
    }
    const auto& timeouts = window.C1->Timeouts();
    std::printf("write time-out of a 256-byte Send with the window's settings: %.1f s\n",
                (256.0 * timeouts.WriteTotalMultiplier() + timeouts.WriteTotalConstant()) / 1000);

    QStringList tokens;
    for (int i = 0; i < 256; ++i) tokens << QStringLiteral("0x41");
    window.ComboBox1->setEditText(tokens.join(QLatin1Char(' ')));

    QElapsedTimer clock;
    qint64 last = -1;
    qint64 longest = 0;
    long ticks = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (last >= 0)
            longest = std::max(longest, now - last - 1000000);
        last = now;
        ++ticks;
    });
    qint64 stopAt = 0;
    QTimer::singleShot(seconds * 1000, [&] {
        stopAt = clock.nsecsElapsed();
        window.BitBtn3->click();  // Stop
    });
    clock.start();
    ticker.start(1);
    window.BitBtn1->click();  // Send: returns when Stop has ended it
    const qint64 ended = clock.nsecsElapsed();
    ticker.stop();
    std::printf("Send waited %.2f s; %ld ticks of a 1 ms timer meanwhile\n", ended / 1e9, ticks);
    std::printf("longest event-loop stall during the Send: %.2f ms\n", longest / 1e6);
    std::printf("Stop ended the Send after %.2f ms\n", (ended - stopAt) / 1e6);
    for (const auto& box : boxes) std::printf("box: %s\n", box.c_str());
    close(slave);
    close(master);
    return 0;
}
