// Loading a large list file into the real window: a file of short lines
// (default 1 M lines of 9 to 12 bytes) is chosen for "Load text..." over Rx 1.
// Printed:
//  - how long the command took, how long until the list was laid out and
//    painted, and until the window answered input again after that;
//  - resident memory growth, now and at its peak, against the file's size.
// Usage: list_load_bench [lines] (default 1000000). Runs on the offscreen
// platform unless QT_QPA_PLATFORM says otherwise.

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <QWindow>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

#include "app/application.h"
#include "app/file_dialog.h"
#include "app/frmmain.h"
#include "app/popup_menu.h"
#include "base/message_box.h"
#include "bench/window_setup.h"

int main(int argc, char** argv) {
    const long lines = argc > 1 ? std::atol(argv[1]) : 1000000;
    bench::UseOffscreenUnlessSet();
    tarvik::TApplication app(argc, argv);
    tarvik::SetMessageBoxFunction([](const tarvik::MessageBoxRequest& box) {
        std::fprintf(stderr, "box: %s\n", box.text.c_str());
    });

    const QString file = QDir::temp().filePath(QStringLiteral("tarvik-list-load-bench.txt"));
    long long fileBytes = 0;
    {
        std::ofstream out(file.toStdString(), std::ios::binary);
        for (long i = 0; i < lines; ++i) {
            const std::string line = "0x41 " + std::to_string(i % 100000) + "\r\n";
            out << line;
            fileBytes += static_cast<long long>(line.size());
        }
    }
    tarvik::SetFileDialogFunction([&file](const tarvik::FileDialogRequest&) { return file; });

    tarvik::Tfrmmain window;
    bench::ShowAndWait(window);
    QElapsedTimer clock;

    const long long rssBefore = bench::StatusBytes("VmRSS");
    bench::ResetPeak();
    window.PopupMenu1->Popup(window.RX1, window.RX1->mapToGlobal(QPoint(5, 5)));
    window.PopupMenu1->hide();
    clock.start();
    window.LoadThis->trigger();
    const qint64 commandMs = clock.elapsed();
    // The list lays its rows out on a zero timer of its own, started before
    // this one; the paint then shows them, and a zero timer started after the
    // paint fires when the window takes input again.
    const auto nextTurn = [&] {
        bool fired = false;
        QTimer::singleShot(0, [&] { fired = true; });
        while (!fired) QCoreApplication::processEvents(QEventLoop::AllEvents);
    };
    nextTurn();
    window.RX1->viewport()->repaint();
    const qint64 paintedMs = clock.elapsed();
    nextTurn();
    const qint64 answeredMs = clock.elapsed();
    const long long rssAfter = bench::StatusBytes("VmRSS");
    const long long rssPeak = bench::StatusBytes("VmHWM");

    const double mb = 1024.0 * 1024.0;
    std::printf("lines %ld in the list %d, file %.1f MiB\n", lines, window.RX1->count(),
                fileBytes / mb);
    std::printf("command %lld ms, shown after %lld ms, window answers after %lld ms\n",
                static_cast<long long>(commandMs), static_cast<long long>(paintedMs),
                static_cast<long long>(answeredMs));
    std::printf("memory growth %.1f MiB (%.2f x the file), peak growth %.1f MiB (%.2f x)\n",
                (rssAfter - rssBefore) / mb, double(rssAfter - rssBefore) / double(fileBytes),
                (rssPeak - rssBefore) / mb, double(rssPeak - rssBefore) / double(fileBytes));
    QFile::remove(file);
    return 0;
}
