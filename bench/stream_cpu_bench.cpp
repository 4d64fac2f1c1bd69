// CPU of the real window while text lines stream in: one NMEA-like line per
// write into a pty, at a steady rate, Rx 1 shown, options at their defaults
// (one line per arrival). Printed for each rate: lines written, lines shown
// and the process's CPU as a share of one core. A writer process of its own
// paces the lines, so its time is not counted.
// Usage: stream_cpu_bench [--paints] [seconds per rate] [rate ...] (default
// 10 s, 4 14 143 1430). --paints also prints, per rate, which widgets were
// drawn and how much of them, per line. Run it on a real X server for real repaints, e.g.
//   xvfb-run -a -s "-screen 0 1280x1024x24" env QT_QPA_PLATFORM=xcb
//       build/release/bin/stream_cpu_bench
// (the offscreen platform unless QT_QPA_PLATFORM says otherwise).

#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QPaintEvent>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/frmmain.h"
#include "bench/process_figures.h"
#include "bench/window_setup.h"

namespace {

// Writes `rate` lines a second for `seconds` into `master`, then one byte
// into `done`. Runs in the child process.
[[noreturn]] void WriteLines(int master, int done, double rate, double seconds) {
    const long count = static_cast<long>(rate * seconds);
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    const long stepNs = static_cast<long>(1e9 / rate);
    for (long i = 0; i < count; ++i) {
        char line[96];
        const int length = std::snprintf(
            line, sizeof line, "$GPRMC,%06ld.00,A,5057.970,N,00146.110,E,0.0,0.0,091226,,,A*7C\r\n",
            i % 1000000);
        if (write(master, line, std::size_t(length)) != length)
            _exit(1);
        next.tv_nsec += stepNs;
        while (next.tv_nsec >= 1'000'000'000) {
            next.tv_nsec -= 1'000'000'000;
            ++next.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    }
    const char byte = 1;
    (void)!write(done, &byte, 1);
    _exit(0);
}

// Counts the paint events of every widget and the pixels they asked for.
class PaintCounter : public QObject {
  public:
    struct Paints {
        long events = 0;
        long long pixels = 0;
    };
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::Paint && object->isWidgetType()) {
            const QString name = object->objectName().isEmpty()
                                     ? QString::fromLatin1(object->metaObject()->className())
                                     : object->objectName();
            const QString parent = object->parent() ? object->parent()->objectName() : QString();
            Paints& paints = byWidget_[(parent.isEmpty() ? name : parent + "/" + name).toStdString()];
            ++paints.events;
            for (const QRect& rect : static_cast<QPaintEvent*>(event)->region())
                paints.pixels += static_cast<long long>(rect.width()) * rect.height();
        }
        return false;
    }
    // Prints what was drawn since the last call, per line, and starts anew.
    void Print(long lines) {
        for (const auto& [name, paints] : byWidget_)
            std::printf("    %-40s %6.2f paints %9.0f pixels per line\n", name.c_str(),
                        double(paints.events) / double(lines), double(paints.pixels) / double(lines));
        byWidget_.clear();
    }

  private:
    std::map<std::string, Paints> byWidget_;
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<const char*> numbers;
    bool paints = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--paints") == 0)
            paints = true;
        else
            numbers.push_back(argv[i]);
    }
    const double seconds = !numbers.empty() ? std::atof(numbers[0]) : 10.0;
    std::vector<double> rates;
    for (std::size_t i = 1; i < numbers.size(); ++i) rates.push_back(std::atof(numbers[i]));
    if (rates.empty())
        rates = {4, 14, 143, 1430};

    int master = -1;
    int slave = -1;
    char name[256];
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);

    bench::UseOffscreenUnlessSet();
    tarvik::TApplication app(argc, argv);
    std::vector<std::string> boxes;
    bench::CollectMessageBoxes(boxes);
    tarvik::Tfrmmain window(nullptr, name);
    bench::ShowAndWait(window);
    PaintCounter counter;
    window.BitBtn2Click();  // Start
    close(slave);
    // Whatever the platform, the master must be drained of what the port
    // writes: nothing is sent here, so nothing to drain.
    std::printf("platform %s, %.0f s per rate\n",
                qPrintable(QGuiApplication::platformName()), seconds);
    std::printf("%10s %10s %10s %10s\n", "lines/s", "written", "shown", "CPU %");
    if (paints)
        app.installEventFilter(&counter);
    for (const double rate : rates) {
        int done[2];
        if (pipe(done) != 0)
            return 1;
        const int shownBefore = window.RX1->count();
        const double cpuBefore = tarvik::bench::ProcessCpuMs();
        QElapsedTimer clock;
        clock.start();
        const pid_t writer = fork();
        if (writer == 0) {
            close(done[0]);
            WriteLines(master, done[1], rate, seconds);
        }
        close(done[1]);
        // The window runs its event loop until the writer is done and the
        // last lines are in.
        QEventLoop loop;
        QSocketNotifier finished(done[0], QSocketNotifier::Read);
        QObject::connect(&finished, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
        loop.exec();
        char byte = 0;
        (void)!read(done[0], &byte, 1);
        QTimer::singleShot(300, &loop, &QEventLoop::quit);
        loop.exec();
        const double cpuMs = tarvik::bench::ProcessCpuMs() - cpuBefore;
        const double wallMs = double(clock.elapsed());
        waitpid(writer, nullptr, 0);
        close(done[0]);
        const long written = static_cast<long>(rate * seconds);
        // The log keeps 2000 lines; count what arrived by the byte counter instead.
        std::printf("%10.0f %10ld %10d %10.1f\n", rate, written,
                    window.RX1->count() - shownBefore, 100.0 * cpuMs / wallMs);
        if (paints)
            counter.Print(written);
        std::fflush(stdout);
    }
    for (const std::string& box : boxes) std::printf("box: %s\n", box.c_str());
    window.BitBtn3Click();
    close(master);
    return 0;
}
