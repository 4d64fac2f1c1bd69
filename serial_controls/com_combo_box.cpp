#include "serial_controls/com_combo_box.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <algorithm>
#include <stdexcept>

#include "base/main_thread.h"
#include "serial/device/net/net_address.h"
#include "serial/port/custom_com_port.h"
#include "serial/ports/open_failure.h"
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

void TComComboBox::Forward(QEvent* event) {
    // Straight to the field: sent, a key it leaves would come back to us
    // through the parent chain.
    static_cast<QObject*>(editor_)->event(event);
}

bool TComComboBox::Typing() const {
    return editor_ != nullptr && editor_->isVisible();
}

bool TComComboBox::ItemStartsWith(const QString& text) const {
    for (int i = 0; i < count(); ++i) {
        if (itemText(i).startsWith(text, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

void TComComboBox::StartTyping(const QString& text) {
    if (editor_ == nullptr) {
        editor_ = new QLineEdit(this);
        editor_->setObjectName(QStringLiteral("TypedPortName"));
        // The box keeps the focus and hands its keys on, as an editable
        // combo box does with its own field.
        editor_->setFocusProxy(this);
        connect(editor_, &QLineEdit::textEdited, this, [this](const QString& now) {
            if (now.isEmpty())
                StopTyping();
        });
    }
    editor_->setGeometry(rect());
    editor_->setText(text);
    editor_->show();
    if (hasFocus()) {
        QFocusEvent in(QEvent::FocusIn, Qt::OtherFocusReason);
        Forward(&in);
    }
}

void TComComboBox::StopTyping() {
    typed_.clear();
    if (editor_ != nullptr)
        editor_->hide();
}

bool TComComboBox::TakeTypedName() {
    if (!Typing())
        return false;
    const tarvik::Text name = FromItemText(editor_->text().trimmed());
    if (!device::net::ParseNetAddress(name))
        throw std::invalid_argument(ExplainOpenFailure(name, device::net::kBadNetworkName));
    std::vector<tarvik::Text> extra = select_->ExtraPortNames();
    if (std::find(extra.begin(), extra.end(), name) == extra.end())
        extra.push_back(name);
    select_->SetExtraPortNames(std::move(extra));
    StopTyping();
    SetComProperty(cpPort);
    SetText(name);
    // As a pick from the list: the choice is written, and the box's users hear of it.
    emit activated(currentIndex());
    return true;
}

bool TComComboBox::event(QEvent* event) {
    // Esc and Enter belong to the field before the window's shortcuts (Esc is Stop).
    if (event->type() == QEvent::ShortcutOverride && Typing()) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape || key->key() == Qt::Key_Return ||
            key->key() == Qt::Key_Enter) {
            event->accept();
            return true;
        }
        Forward(event);
        return event->isAccepted() || QComboBox::event(event);
    }
    return QComboBox::event(event);
}

void TComComboBox::keyPressEvent(QKeyEvent* event) {
    if (Typing()) {
        switch (event->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter:
                try {
                    TakeTypedName();
                } catch (...) {
                    tarvik::PassToEventLoop(std::current_exception());
                }
                return;
            case Qt::Key_Escape:
                StopTyping();
                return;
            case Qt::Key_Up:
            case Qt::Key_Down:
            case Qt::Key_PageUp:
            case Qt::Key_PageDown:
            case Qt::Key_F4:
                // The list's own keys give the list back and do what they do there.
                StopTyping();
                QComboBox::keyPressEvent(event);
                return;
            default:
                Forward(event);
                return;
        }
    }
    if (typedNames_ && select_->ComProperty() == cpPort) {
        QString start;
        if (event->matches(QKeySequence::Paste)) {
            start = QApplication::clipboard()->text().trimmed();
        } else if (!event->text().isEmpty() && event->text().at(0).isPrint() &&
                   !(event->modifiers() &
                     (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
            if (!sinceKey_.isValid() || sinceKey_.elapsed() > QApplication::keyboardInputInterval())
                typed_.clear();
            sinceKey_.start();
            typed_ += event->text();
            if (!ItemStartsWith(typed_))
                start = typed_;
        }
        if (device::net::BeginsLikeNetworkPortName(FromItemText(start))) {
            StartTyping(start);
            return;
        }
    }
    QComboBox::keyPressEvent(event);
}

void TComComboBox::focusInEvent(QFocusEvent* event) {
    QComboBox::focusInEvent(event);
    if (Typing())
        Forward(event);
}

void TComComboBox::focusOutEvent(QFocusEvent* event) {
    QComboBox::focusOutEvent(event);
    if (!Typing())
        return;
    Forward(event);
    // Leaving the box takes a well-formed name; one that is not stays to be
    // mended (Start says what is wrong with it). A menu or another window
    // taking the focus for a while takes nothing.
    const Qt::FocusReason reason = event->reason();
    if (reason == Qt::PopupFocusReason || reason == Qt::ActiveWindowFocusReason)
        return;
    if (device::net::ParseNetAddress(FromItemText(editor_->text().trimmed())))
        TakeTypedName();
}

void TComComboBox::resizeEvent(QResizeEvent* event) {
    QComboBox::resizeEvent(event);
    if (editor_ != nullptr)
        editor_->setGeometry(rect());
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
