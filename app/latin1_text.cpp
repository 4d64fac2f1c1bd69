#include "app/latin1_text.h"

#include <cstdio>

namespace tarvik {

namespace {

[[noreturn]] void RefuseCharacter(char32_t codePoint, int position) {
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(codePoint));
    const QString character = QString::fromUcs4(&codePoint, 1);
    throw ENoByteForCharacter("The character \"" + character.toStdString() + "\" (" + code +
                              ") at position " + std::to_string(position) +
                              " has no byte value; only the characters U+0000 to U+00FF can be "
                              "used");
}

}  // namespace

Text ToText(const QString& text) {
    Text bytes;
    bytes.reserve(static_cast<std::size_t>(text.size()));
    int position = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        ++position;
        const QChar c = text[i];
        if (c.unicode() <= 0xFF) {
            bytes += static_cast<char>(c.unicode());
            continue;
        }
        char32_t codePoint = c.unicode();
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            codePoint = QChar::surrogateToUcs4(c, text[i + 1]);
        }
        RefuseCharacter(codePoint, position);
    }
    return bytes;
}

QString FromText(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace tarvik
