#pragma once
// TComComboBox: a drop-down list bound to one setting of a serial port
// object. It lists the texts the setting can take, shows the port's current
// value, and writes the user's choice into the port.
//
// The list belongs to the control and is filled only from ComProperty; do
// not add or remove items through the QComboBox interface. Main thread only.
//
// The selector looks at the port's value only when ComPort or ComProperty is
// written; later changes of the port's settings do not move the selection.
// Selecting from code (SetComPort, SetComProperty, SetText, setCurrentIndex)
// never writes the port: only a user's choice (QComboBox::activated) does.
//
// Building a window: set ComProperty, AutoApply and Text first (ComProperty
// fills the list and selects item 0, Text selects the stored item), and link
// the port with SetComPort only after every object of the window exists and
// has its settings; the selection then moves to the port's current value.
// For cpPort, SetExtraPortNames (and SetPortLister) go before ComProperty.

#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <memory>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "serial_controls/com_property.h"
#include "serial_controls/com_select.h"

namespace cport {

class TCustomComPort;

class TComComboBox : public QComboBox {
    Q_OBJECT

  public:
    // The owner is the QWidget parent.
    explicit TComComboBox(QWidget* owner = nullptr);
    ~TComComboBox() override;

    // The linked port (not owned), or null. Linking the already linked port
    // does nothing; null keeps the list and the selection; another port is
    // watched for its destruction and its current value is selected (no item
    // when the value is not listed). The link clears itself, and item 0 is
    // selected, when the port is destroyed.
    TCustomComPort* ComPort() const { return select_->ComPort(); }
    void SetComPort(TCustomComPort* port);

    // Refills the list for the property (the only way to re-read the system's
    // port names) and selects the port's current value, or item 0 when no
    // port is linked. A failing port enumeration propagates (EComPort code 23)
    // and the list stays empty.
    TComProperty ComProperty() const { return select_->ComProperty(); }
    void SetComProperty(TComProperty value);

    // With AutoApply on, a user's choice is written into the port at once;
    // with it off, the choice is only remembered.
    bool AutoApply() const { return select_->AutoApply(); }
    void SetAutoApply(bool value) { select_->SetAutoApply(value); }

    // The selected item's text, "" when none is selected. Writing selects the
    // first item equal to the text without regard to case; a text not in the
    // list changes nothing and raises nothing.
    tarvik::Text Text() const;
    void SetText(std::string_view text);

    // Port names joined to the system's in the cpPort list (pseudo-terminals,
    // names given on the command line): sorted with them, each at most once.
    // Take effect at the next SetComProperty(cpPort).
    void SetExtraPortNames(std::vector<tarvik::Text> names);
    // Where the system's port names come from (EnumComPorts by default).
    void SetPortLister(TPortLister lister);

    // Lets the user type or paste a network port's name (rfc2217://HOST:PORT,
    // socket://HOST:PORT) into a cpPort box; off by default. The box stays a
    // list: only text that no item starts with and that begins like such a
    // name (typed, or pasted with Ctrl+V) turns it into an edit field over
    // the list. Enter, or leaving the box, takes the name as a user's choice
    // (added to the list, written into the port); Esc, emptying the field or
    // the list's own keys (arrows, Alt+Down) give the list back unchanged.
    void SetTypedNames(bool on) { typedNames_ = on; }
    // Takes a name still being typed, as Enter does: false when none was.
    // A name that is not well formed is refused with an error (std::invalid_argument)
    // and stays in the field.
    bool TakeTypedName();
    bool Typing() const;

    // Raises AboutToShowList, then drops the list down.
    void showPopup() override;

    TComSelect& Selection() { return *select_; }
    const TComSelect& Selection() const { return *select_; }

  signals:
    // A user's choice was taken (remembered, and written with AutoApply).
    // Not raised when writing the choice into the port failed.
    void Changed();
    // The list is about to drop down (any way the user opens it); a handler
    // may refill it, and the list shows what it then holds.
    void AboutToShowList();

  protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

    // The change handler: run for every item the user picks. A failure to
    // write the port propagates out of it to the application's error
    // handler; the list keeps the choice and Changed is not raised.
    virtual void Change();

  private:
    // The removal notification: `object` is being destroyed.
    void PortDestroyed(QObject* object);

    void StartTyping(const QString& text);
    void StopTyping();
    void Forward(QEvent* event);
    bool ItemStartsWith(const QString& text) const;

    std::unique_ptr<TComSelect> select_;
    bool typedNames_ = false;
    QLineEdit* editor_ = nullptr;  // over the list while a name is typed; made when first needed
    // The keys typed into the list so far, as its own search by typing
    // gathers them: they start a name only when no item starts with them.
    QString typed_;
    QElapsedTimer sinceKey_;
    // The linked port as a QObject, taken while it was whole: `destroyed`
    // arrives when only the QObject part is left.
    QObject* watchedPort_ = nullptr;
};

}  // namespace cport
