#pragma once
// Item texts are 8-bit texts shown as Latin-1, like every window text.

#include <QString>
#include <string_view>

#include "base/text.h"

namespace cport {

inline QString ToItemText(std::string_view text) {
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

// Items hold only texts made by ToItemText, so nothing is lost.
inline tarvik::Text FromItemText(const QString& text) {
    return text.toLatin1().toStdString();
}

}  // namespace cport
