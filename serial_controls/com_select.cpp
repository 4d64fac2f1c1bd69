#include "serial_controls/com_select.h"

#include <QComboBox>
#include <algorithm>

#include "serial/port/com_conversions.h"
#include "serial/port/com_flow_control.h"
#include "serial/port/com_parity.h"
#include "serial/port/custom_com_port.h"
#include "serial/ports/enum_com_ports.h"
#include "serial_controls/item_text.h"

namespace cport {

namespace {

template <typename Enum, typename ToText>
std::vector<tarvik::Text> AllTexts(int count, ToText toText) {
    std::vector<tarvik::Text> texts;
    for (int i = 0; i < count; ++i) texts.push_back(toText(static_cast<Enum>(i)));
    return texts;
}

}  // namespace

TComSelect::TComSelect()
    : portLister_([](std::vector<tarvik::Text>& ports) { EnumComPorts(ports); }) {}

std::vector<tarvik::Text> TComSelect::ItemTexts(TComProperty value) const {
    switch (value) {
        case cpPort: {
            std::vector<tarvik::Text> names;
            if (portLister_)
                portLister_(names);
            for (const auto& extra : extraPortNames_) {
                if (!extra.empty() && std::find(names.begin(), names.end(), extra) == names.end())
                    names.push_back(extra);
            }
            SortPortNames(names);
            return names;
        }
        case cpBaudRate:
            return AllTexts<TBaudRate>(kBaudRateCount, BaudRateToText);
        case cpDataBits:
            return AllTexts<TDataBits>(kDataBitsCount, DataBitsToText);
        case cpStopBits:
            return AllTexts<TStopBits>(kStopBitsCount, StopBitsToText);
        case cpParity:
            return AllTexts<TParityBits>(kParityBitsCount, ParityToText);
        case cpFlowControl:
            return AllTexts<TFlowControl>(kFlowControlCount, FlowControlToText);
        case cpNone:
            break;
    }
    return {};
}

void TComSelect::SelectProperty(TComProperty value) {
    comProperty_ = value;
    if (items_ == nullptr)
        return;
    items_->clear();
    // Filled only after the enumeration succeeded: a failure leaves the list empty.
    for (const auto& text : ItemTexts(value)) items_->addItem(ToItemText(text));
}

void TComSelect::Remember(std::string_view text) {
    switch (comProperty_) {
        case cpPort:
            port_ = tarvik::Text(text);
            break;
        case cpBaudRate:
            baudRate_ = TextToBaudRate(text);
            break;
        case cpDataBits:
            dataBits_ = TextToDataBits(text);
            break;
        case cpStopBits:
            stopBits_ = TextToStopBits(text);
            break;
        case cpParity:
            parity_ = TextToParity(text);
            break;
        case cpFlowControl:
            flowControl_ = TextToFlowControl(text);
            break;
        case cpNone:
            break;
    }
}

void TComSelect::SelectValue(std::string_view text) {
    Remember(text);
    if (autoApply_)
        ApplySelection();
}

void TComSelect::ApplySelection() {
    if (comPort_ == nullptr)
        return;
    switch (comProperty_) {
        case cpPort:
            comPort_->SetPort(port_);
            break;
        case cpBaudRate:
            comPort_->SetBaudRate(baudRate_);
            break;
        case cpDataBits:
            comPort_->SetDataBits(dataBits_);
            break;
        case cpStopBits:
            comPort_->SetStopBits(stopBits_);
            break;
        case cpParity:
            comPort_->Parity().SetBits(parity_);
            break;
        case cpFlowControl:
            comPort_->FlowControl().SetFlowControl(flowControl_);
            break;
        case cpNone:
            break;
    }
}

tarvik::Text TComSelect::CurrentValueText() const {
    switch (comProperty_) {
        case cpPort:
            return comPort_->Port();
        case cpBaudRate:
            return BaudRateToText(comPort_->BaudRate());
        case cpDataBits:
            return DataBitsToText(comPort_->DataBits());
        case cpStopBits:
            return StopBitsToText(comPort_->StopBits());
        case cpParity:
            return ParityToText(comPort_->Parity().Bits());
        case cpFlowControl:
            return FlowControlToText(comPort_->FlowControl().FlowControl());
        case cpNone:
            break;
    }
    return {};
}

int TComSelect::ReadSelection() {
    if (comPort_ == nullptr || comProperty_ == cpNone || items_ == nullptr)
        return -1;
    const QString wanted = ToItemText(CurrentValueText());
    for (int i = 0; i < items_->count(); ++i) {
        const QString item = items_->itemText(i);
        if (item.compare(wanted, Qt::CaseInsensitive) == 0) {
            Remember(FromItemText(item));
            return i;
        }
    }
    return -1;
}

}  // namespace cport
