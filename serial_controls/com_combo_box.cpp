#include "serial_controls/com_combo_box.h"

#include "base/main_thread.h"
#include "serial/port/custom_com_port.h"
#include "serial_controls/item_text.h"

namespace cport {

namespace {
constexpr int kDropDownCount = 8;
}

TComComboBox::TComComboBox(QWidget* owner)
    : QComboBox(owner), select_(std::make_unique<TComSelect>()) {
    select_->SetItems(this);
    // Not editable: the user can only pick an item.
    setEditable(false);
    setMaxVisibleItems(kDropDownCount);
    // activated, not currentIndexChanged: only a user's pick writes the port.
    connect(this, &QComboBox::activated, this, [this](int) { Change(); });
}

void TComComboBox::showPopup() {
    emit AboutToShowList();
    QComboBox::showPopup();
}

TComComboBox::~TComComboBox() {
    // The port may be our own child, destroyed by QWidget's destructor after
    // this body and after the selection: it must not reach us then.
    if (watchedPort_ != nullptr)
        disconnect(watchedPort_, &QObject::destroyed, this, &TComComboBox::PortDestroyed);
}

void TComComboBox::SetComPort(TCustomComPort* port) {
    if (port == select_->ComPort())
        return;
    if (watchedPort_ != nullptr)
        disconnect(watchedPort_, &QObject::destroyed, this, &TComComboBox::PortDestroyed);
    watchedPort_ = port;
    select_->SetComPort(port);
    if (port == nullptr)
        return;
    connect(port, &QObject::destroyed, this, &TComComboBox::PortDestroyed);
    setCurrentIndex(select_->ReadSelection());
}

void TComComboBox::SetComProperty(TComProperty value) {
    select_->SelectProperty(value);
    if (count() == 0)
        return;
    setCurrentIndex(select_->ComPort() == nullptr ? 0 : select_->ReadSelection());
}

tarvik::Text TComComboBox::Text() const {
    const int index = currentIndex();
    return index < 0 ? tarvik::Text() : FromItemText(itemText(index));
}

void TComComboBox::SetText(std::string_view text) {
    const QString wanted = ToItemText(text);
    for (int i = 0; i < count(); ++i) {
        if (itemText(i).compare(wanted, Qt::CaseInsensitive) == 0) {
            setCurrentIndex(i);
            return;
        }
    }
}

void TComComboBox::SetExtraPortNames(std::vector<tarvik::Text> names) {
    select_->SetExtraPortNames(std::move(names));
}

void TComComboBox::SetPortLister(TPortLister lister) {
    select_->SetPortLister(std::move(lister));
}

void TComComboBox::Change() {
    // An error from the port's setter goes to the application's error handler,
    // and Changed is not raised for this choice. It is handed on rather than
    // thrown: Qt's widget frames below us carry no exception clean-ups.
    try {
        select_->SelectValue(Text());
    } catch (...) {
        tarvik::PassToEventLoop(std::current_exception());
        return;
    }
    emit Changed();
}

void TComComboBox::PortDestroyed(QObject* object) {
    if (object != watchedPort_)
        return;
    watchedPort_ = nullptr;
    select_->SetComPort(nullptr);
    if (count() > 0)
        setCurrentIndex(0);
}

}  // namespace cport
