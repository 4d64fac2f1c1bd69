// The find bar over a receive log of a million lines: the time from a change
// (text typed, a filter ticked or unticked) until the window has answered
// (the search or filter done and the result painted).
// Usage: search_bench [lines] (default 1000000). Offscreen unless
// QT_QPA_PLATFORM says otherwise.

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "app/application.h"
#include "app/find_bar.h"
#include "app/line_list.h"
#include "bench/window_setup.h"

namespace {

// Milliseconds from `change` until the events it caused are done.
double Answer(const std::function<void()>& change) {
    QElapsedTimer clock;
    clock.start();
    change();
    QCoreApplication::processEvents();
    return double(clock.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    const long count = argc > 1 ? std::atol(argv[1]) : 1'000'000;
    bench::UseOffscreenUnlessSet();
    tarvik::TApplication app(argc, argv);
    QWidget page;
    page.resize(683, 400);
    auto* layout = new QVBoxLayout(&page);
    auto* log = new tarvik::TLineList(&page);
    log->setSelectionMode(QAbstractItemView::ExtendedSelection);
    layout->addWidget(log);
    // NMEA-like lines as the log shows them, every 1000th one different.
    std::string text;
    for (long i = 0; i < count; ++i) {
        text += "12:00:00.000 0x24  G  P  R  M  C 0x2C  1  2  3  4  5  1 0x2E  0  0 0x2C  A (" +
                std::to_string(i % 97) + ")";
        text += i % 1000 == 0 ? " bad, expected \"*4D\"\r\n" : " ok\r\n";
    }
    log->Lines()->Replace(std::move(text));
    bench::ShowAndWait(page);
    tarvik::TFindBar bar(&page);
    bar.Open(log, true, false);
    QCoreApplication::processEvents();

    std::printf("%ld lines\n", count);
    const auto report = [](const char* what, double ms) { std::printf("%-40s %8.1f ms\n", what, ms); };
    report("search \"bad\" (plain)", Answer([&] { bar.Text()->setText(QStringLiteral("bad")); }));
    std::printf("  %d matching\n", bar.MatchCount());
    report("next match (F3)", Answer([&] { bar.Next(); }));
    report("only matching lines on", Answer([&] { bar.OnlyMatching()->setChecked(true); }));
    report("only matching lines off", Answer([&] { bar.OnlyMatching()->setChecked(false); }));
    report("search \"0x2e  0\" (plain, every line)",
           Answer([&] { bar.Text()->setText(QStringLiteral("0x2e  0")); }));
    report("regular expression on", Answer([&] { bar.RegularExpression()->setChecked(true); }));
    report("regex \"expected \\\"\\*[0-9A-F]{2}\"",
           Answer([&] { bar.Text()->setText(QStringLiteral("expected \"\\*[0-9A-F]{2}")); }));
    report("only matching lines on (regex)", Answer([&] { bar.OnlyMatching()->setChecked(true); }));
    report("only matching lines off (regex)",
           Answer([&] { bar.OnlyMatching()->setChecked(false); }));
    report("only bad on", Answer([&] { bar.OnlyBad()->setChecked(true); }));
    report("only bad off", Answer([&] { bar.OnlyBad()->setChecked(false); }));
    report("close", Answer([&] { bar.Close(); }));
    return 0;
}
