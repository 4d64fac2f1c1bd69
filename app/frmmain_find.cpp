// Ctrl+F: the find bar below a receive log; F3 and Shift+F3 step through
// its matches wherever the focus is, while the bar is shown.

#include <QKeySequence>
#include <QShortcut>
#include <QTabWidget>

#include "app/find_bar.h"
#include "app/frmmain.h"

namespace tarvik {

void Tfrmmain::BuildFindBar() {
    FindBar1 = new TFindBar(this);
    auto* find = new QShortcut(QKeySequence::Find, this);
    connect(find, &QShortcut::activated, this, Command(&Tfrmmain::FindInLog));
    // The bar's own: while it is hidden, F3 is free for other uses (a
    // sequence's key).
    auto* next = new QShortcut(QKeySequence(Qt::Key_F3), FindBar1);
    next->setContext(Qt::WindowShortcut);
    connect(next, &QShortcut::activated, this, [this] {
        FlushRxLines();
        if (FindBar1->isVisible())
            FindBar1->Next();
    });
    auto* previous = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), FindBar1);
    previous->setContext(Qt::WindowShortcut);
    connect(previous, &QShortcut::activated, this, [this] {
        FlushRxLines();
        if (FindBar1->isVisible())
            FindBar1->Previous();
    });
}

void Tfrmmain::FindInLog() {
    // The log with the focus, else the one shown, else the one arrivals go to.
    TLineList* logs[] = {RX1, RX2, RX3, RX4};
    TLineList* log = nullptr;
    for (TLineList* candidate : logs) {
        if (candidate->hasFocus())
            log = candidate;
    }
    for (TLineList* candidate : logs) {
        if (log == nullptr && PageControl1->currentWidget() == candidate->parentWidget())
            log = candidate;
    }
    if (log == nullptr) {
        log = ActiveLog;
        PageControl1->setCurrentWidget(log->parentWidget());
    }
    FindBar1->Open(log, options_.check != nullptr || log->Lines()->VerdictLines() > 0,
                   options_.logSent);
}

}  // namespace tarvik
