// A long text pasted into the command line with Ctrl+V, and what the window
// does with such a line afterwards. The text comes from the program's own
// clipboard, or, with --xclip on the xcb platform, from another X client:
// `xclip -selection clipboard` holds it, as a paste from an editor would.
// Printed for each step: the wall time until the window answers again (the
// step itself, a repaint of the line and a zero-timer round trip through the
// event loop) and the process's CPU time meanwhile:
//  - the paste itself, and whether the text arrived whole;
//  - the CPU time of the next 2 s, while the line's cursor blinks;
//  - a typed character at the end of the line, a Backspace, Home and End;
//  - SUM, and Send on an open pty, over the line (the codec refuses more
//    than 256 tokens with its message).
// Usage: paste_bench [--xclip] [bytes] (default 2 MiB). Runs on the offscreen
// platform unless QT_QPA_PLATFORM says otherwise; --xclip needs an X display
// (e.g. xvfb-run -a env QT_QPA_PLATFORM=xcb paste_bench --xclip).

#include <pty.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryFile>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/frmmain.h"
#include "bench/window_setup.h"

namespace {

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Tokens of the notation with varied values, "0x00 0x01 ... ", to `bytes`.
QString CommandText(qsizetype bytes) {
    QString text;
    text.reserve(bytes);
    char token[8];
    for (unsigned i = 0; text.size() < bytes; ++i) {
        std::snprintf(token, sizeof token, "0x%02X ", i & 0xFF);
        text += QLatin1String(token);
    }
    text.truncate(bytes);
    return text;
}

// Runs the step, repaints the line, then waits for a zero timer posted
// behind whatever the step queued; prints wall and CPU time.
void Measure(const char* name, QWidget& line, const std::function<void()>& step) {
    const double cpu = CpuSeconds();
    QElapsedTimer clock;
    clock.start();
    step();
    line.repaint();
    QEventLoop loop;
    QTimer::singleShot(0, &loop, &QEventLoop::quit);
    loop.exec();
    std::printf("%-34s %8.1f ms wall %8.1f ms CPU\n", name, clock.nsecsElapsed() / 1e6,
                (CpuSeconds() - cpu) * 1e3);
}

// Starts xclip holding the text as the clipboard selection; returns once it
// owns the selection (xclip forks a child that serves it and the parent ends).
void OfferWithXclip(const QString& text) {
    QTemporaryFile file;
    if (!file.open())
        throw std::runtime_error("no temporary file");
    file.write(text.toLatin1());
    file.flush();
    const std::string command =
        "xclip -selection clipboard -i " + file.fileName().toStdString() + " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("xclip failed (is it installed and is there an X display?)");
    // xclip's request to own the selection may reach the server after its
    // first process has ended: wait until the clipboard offers a format.
    QElapsedTimer clock;
    clock.start();
    while (QGuiApplication::clipboard()->mimeData()->formats().isEmpty()) {
        if (clock.elapsed() > 5000)
            throw std::runtime_error("xclip does not offer the text");
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
}

}  // namespace

int main(int argc, char** argv) {
    bool xclip = false;
    qsizetype bytes = 2 * 1024 * 1024;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--xclip") == 0)
            xclip = true;
        else
            bytes = std::atoll(argv[i]);
    }
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
    bench::ShowAndWait(window);
    window.BitBtn2->click();  // Start
    window.activateWindow();
    QLineEdit* line = window.ComboBox1->lineEdit();
    line->setFocus();
    QCoreApplication::processEvents();

    const QString text = CommandText(bytes);
    std::printf("platform %s, text of %lld bytes from %s\n",
                qPrintable(QGuiApplication::platformName()), static_cast<long long>(bytes),
                xclip ? "xclip (another X client)" : "the program's own clipboard");
    if (xclip)
        OfferWithXclip(text);
    else
        QGuiApplication::clipboard()->setText(text);

    Measure("paste (Ctrl+V)", *line,
            [&] { QTest::keyClick(line, Qt::Key_V, Qt::ControlModifier); });
    const bool whole = window.ComboBox1->currentText() == text;
    std::printf("pasted text: %lld characters, %s\n",
                static_cast<long long>(window.ComboBox1->currentText().size()),
                whole ? "whole" : "NOT the text offered");
    {
        // The line edit's cursor blinks meanwhile: each blink repaints it.
        const double cpu = CpuSeconds();
        QEventLoop loop;
        QTimer::singleShot(2000, &loop, &QEventLoop::quit);
        loop.exec();
        std::printf("%-34s %8.1f ms CPU\n", "2 s idle after the paste", (CpuSeconds() - cpu) * 1e3);
    }
    Measure("type a character at the end", *line, [&] { QTest::keyClick(line, Qt::Key_A); });
    Measure("Backspace", *line, [&] { QTest::keyClick(line, Qt::Key_Backspace); });
    Measure("Home", *line, [&] { QTest::keyClick(line, Qt::Key_Home); });
    Measure("type a character at the start", *line, [&] { QTest::keyClick(line, Qt::Key_A); });
    Measure("End", *line, [&] { QTest::keyClick(line, Qt::Key_End); });
    Measure("SUM", *line, [&] { QTest::mouseClick(window.BitBtn4, Qt::LeftButton); });
    Measure("Send", *line, [&] { QTest::mouseClick(window.BitBtn1, Qt::LeftButton); });
    for (const auto& box : boxes) std::printf("box: %.200s\n", box.c_str());
    if (xclip)
        QGuiApplication::clipboard()->clear();  // lets xclip's server end
    close(slave);
    close(master);
    return whole ? 0 : 1;
}
