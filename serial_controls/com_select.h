#pragma once
// TComSelect: the selection logic behind one port property selector. It fills
// the owning combo box's item list with the texts one setting can take, finds
// a port object's current value in that list, and writes a chosen value into
// the port object.
//
// Owned by its TComComboBox; the item list and the port object are not owned.
// Main thread only.

#include <functional>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "serial/port/com_types.h"
#include "serial_controls/com_property.h"

class QComboBox;

namespace cport {

class TCustomComPort;

// Fills a list with the system's port names; raises EComPort on failure and
// then leaves the list as it was. EnumComPorts is the default.
using TPortLister = std::function<void(std::vector<tarvik::Text>& ports)>;

class TComSelect {
  public:
    // A new selection has no item list, cpNone, no port and AutoApply off.
    TComSelect();

    // The list the selection fills and reads: the owning control's own.
    void SetItems(QComboBox* items) { items_ = items; }

    // Stores the property, clears the item list and fills it: the port names
    // for cpPort, the setting's texts in enumeration order otherwise, nothing
    // for cpNone. A failing port enumeration propagates (EComPort code 23)
    // with the property stored and the list empty.
    void SelectProperty(TComProperty value);

    // Remembers the value a chosen item text stands for (cpPort: the text
    // itself; otherwise the setting's text conversion); then, with AutoApply
    // on, ApplySelection. The port setter's errors propagate.
    void SelectValue(std::string_view text);

    // Writes the remembered value of the current property into the linked
    // port through its ordinary setter; nothing without a port or with cpNone.
    void ApplySelection();

    // The index of the first item equal to the text of the port's current
    // value, letters compared without regard to case, and remembers that
    // item (the list's form of it). -1 without a port, with cpNone, or when
    // the value is not listed. Never writes the port.
    int ReadSelection();

    TComProperty ComProperty() const { return comProperty_; }
    // Stores the link only; the combo box does the rest of linking.
    TCustomComPort* ComPort() const { return comPort_; }
    void SetComPort(TCustomComPort* port) { comPort_ = port; }
    bool AutoApply() const { return autoApply_; }
    void SetAutoApply(bool value) { autoApply_ = value; }

    // Where cpPort's names come from, and names added to them (ports the
    // system does not list, such as pseudo-terminals). Both take effect the
    // next time SelectProperty(cpPort) fills the list: the extra names join
    // the system's, sorted with them, each name at most once.
    void SetPortLister(TPortLister lister) { portLister_ = std::move(lister); }
    void SetExtraPortNames(std::vector<tarvik::Text> names) { extraPortNames_ = std::move(names); }
    const std::vector<tarvik::Text>& ExtraPortNames() const { return extraPortNames_; }

    // The remembered values; only the one of the current property has meaning.
    const tarvik::Text& RememberedPort() const { return port_; }
    TBaudRate RememberedBaudRate() const { return baudRate_; }
    TDataBits RememberedDataBits() const { return dataBits_; }
    TStopBits RememberedStopBits() const { return stopBits_; }
    TParityBits RememberedParity() const { return parity_; }
    TFlowControl RememberedFlowControl() const { return flowControl_; }

  private:
    void Remember(std::string_view text);
    std::vector<tarvik::Text> ItemTexts(TComProperty value) const;
    tarvik::Text CurrentValueText() const;

    tarvik::Text port_;
    TBaudRate baudRate_ = brCustom;
    TDataBits dataBits_ = dbFive;
    TStopBits stopBits_ = sbOneStopBit;
    TParityBits parity_ = prNone;
    TFlowControl flowControl_ = fcHardware;
    QComboBox* items_ = nullptr;
    TComProperty comProperty_ = cpNone;
    TCustomComPort* comPort_ = nullptr;
    bool autoApply_ = false;

    TPortLister portLister_;
    std::vector<tarvik::Text> extraPortNames_;
};

}  // namespace cport
