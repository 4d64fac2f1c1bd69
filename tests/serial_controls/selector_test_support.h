#pragma once
// What the selector tests share: an application that catches handler errors
// in notify, as the program's does, a selector over a fixed port list, and
// the user's two ways of picking an item.

#include <QApplication>
#include <QListView>
#include <QTest>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "serial/error/com_error.h"
#include "serial_controls/com_combo_box.h"
#include "tests/serial/counting_port.h"

namespace selectortest {

using cport::TComComboBox;
using cport::testutil::CountingPort;
using Names = std::vector<tarvik::Text>;
using Calls = std::vector<std::string>;

class TestApplication : public QApplication {
  public:
    using QApplication::QApplication;

    // Every EComPort that reached the application from a handler: code and message.
    std::vector<std::pair<int, std::string>> errors;

    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const cport::EComPort& e) {
            errors.emplace_back(e.ErrorCode(), e.what());
        }
        return false;
    }
};

inline TestApplication* App() {
    return static_cast<TestApplication*>(qApp);
}

inline const Names kSystemPorts{"ttyUSB0", "COM2", "COM1", "COM10"};  // sorted by the selector

// A selector whose port list comes from kSystemPorts instead of the machine.
inline std::unique_ptr<TComComboBox> MakeBox(cport::TComProperty property,
                                             cport::TCustomComPort* port, bool autoApply = true) {
    auto box = std::make_unique<TComComboBox>();
    box->SetPortLister([](Names& ports) { ports = kSystemPorts; });
    box->SetComProperty(property);
    box->SetAutoApply(autoApply);
    box->SetComPort(port);
    return box;
}

inline QStringList Items(const QComboBox& box) {
    QStringList items;
    for (int i = 0; i < box.count(); ++i) items << box.itemText(i);
    return items;
}

// The user moves to `index` with the keyboard, as from the closed list.
inline void UserPicks(TComComboBox& box, int index) {
    box.setCurrentIndex(index - 1);
    QTest::keyClick(&box, Qt::Key_Down);
    QCOMPARE(box.currentIndex(), index);
}

// The user opens the list and clicks an item, even the one already selected.
inline void UserClicks(TComComboBox& box, int index) {
    box.show();
    box.showPopup();
    QAbstractItemView* view = box.view();
    QVERIFY(QTest::qWaitForWindowExposed(view->window()));
    const QRect rect = view->visualRect(box.model()->index(index, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rect.center());
    QTRY_VERIFY(!view->isVisible());
}

}  // namespace selectortest
