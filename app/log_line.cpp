#include "app/log_line.h"

#include "app/latin1_text.h"

namespace tarvik {

QVariant TLogLine::data(int role) const {
    if (ownText_ && (role == Qt::DisplayRole || role == Qt::EditRole))
        return FromText(text_);
    return QListWidgetItem::data(role);
}

void TLogLine::setData(int role, const QVariant& value) {
    if (role == Qt::DisplayRole || role == Qt::EditRole) {
        ownText_ = false;
        text_ = Text();
    }
    QListWidgetItem::setData(role, value);
}

}  // namespace tarvik
