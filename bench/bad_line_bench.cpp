// A huge bad command line and Send: how long until the window answers again,
// and how large the box that says why. The real Qt message box is shown (on
// the offscreen platform unless QT_QPA_PLATFORM says otherwise) and closed by
// a timer as soon as it is on screen. For each kind of bad line, printed:
// the time from the press of Send to the box on screen, the box's size
// against the screen's, the time until the window answers after the box is
// closed, the process's CPU time meanwhile, and the length of the error's text.
// Usage: bad_line_bench [characters] (default 4 Mi).

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
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/application.h"
#include "app/frmmain.h"
#include "app/qt_message_box.h"
#include "bench/window_setup.h"

namespace {

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct BadLine {
    const char* name;
    QString text;
};

}  // namespace

int main(int argc, char** argv) {
    const qsizetype size = argc > 1 ? std::atoll(argv[1]) : 4 * 1024 * 1024;
    bench::UseOffscreenUnlessSet();
    tarvik::TApplication app(argc, argv);
    tarvik::InstallQtMessageBox();

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

    const BadLine lines[] = {
        {"one bad decimal token", QStringLiteral("1") + QString(size - 1, u'g')},
        {"an unclosed quote", QStringLiteral("\"") + QString(size - 1, u'A')},
        {"skipped characters only", QString(size, u'z')},
        {"a bad hex token, then more", QStringLiteral("0xg1 ") + QString(size - 5, u'9')},
    };
    const QSize screen = QGuiApplication::primaryScreen()->availableSize();
    std::printf("%lld characters; screen %dx%d\n", static_cast<long long>(size), screen.width(),
                screen.height());
    int slow = 0;
    for (const BadLine& bad : lines) {
        line->setFocus();
        QGuiApplication::clipboard()->setText(bad.text);
        line->selectAll();
        QTest::keyClick(line, Qt::Key_V, Qt::ControlModifier);
        QCoreApplication::processEvents();

        QElapsedTimer clock;
        double shownMs = -1;
        QSize boxSize;
        std::size_t textLength = 0;
        QTimer watch;
        watch.setInterval(2);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || !box->isVisible())
                return;
            shownMs = clock.nsecsElapsed() / 1e6;
            boxSize = box->frameGeometry().size();
            textLength = static_cast<std::size_t>(box->text().size() +
                                                  box->detailedText().size());
            box->accept();
        });
        watch.start();
        const double cpu = CpuSeconds();
        clock.start();
        QTest::mouseClick(window.BitBtn1, Qt::LeftButton);
        // Answering again: a zero timer queued behind whatever Send left.
        QEventLoop loop;
        QTimer::singleShot(0, &loop, &QEventLoop::quit);
        loop.exec();
        const double answeredMs = clock.nsecsElapsed() / 1e6;
        watch.stop();
        const bool fits = boxSize.height() <= screen.height() && boxSize.width() <= screen.width();
        std::printf("%-28s box after %8.1f ms (%4dx%-5d %s), answers after %8.1f ms, "
                    "%8.1f ms CPU, box text %zu characters\n",
                    bad.name, shownMs, boxSize.width(), boxSize.height(),
                    shownMs < 0 ? "no box" : fits ? "fits" : "TOO LARGE", answeredMs,
                    (CpuSeconds() - cpu) * 1e3, textLength);
        if (answeredMs > 1000 || !fits)
            ++slow;
    }
    close(slave);
    close(master);
    return slow == 0 ? 0 : 1;
}
