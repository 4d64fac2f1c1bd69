#include "code_tables.h"

#include <QPainter>
#include <array>

namespace pictures {

namespace {

constexpr std::array<const char*, 33> kC0Names{
    "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "HT",  "LF",
    "VT",  "FF",  "CR",  "SO",  "SI",  "DLE", "DC1", "DC2", "DC3", "DC4", "NAK",
    "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US",  "SP"};

constexpr std::array<const char*, 32> kC1Names{
    "PAD", "HOP", "BPH", "NBH",  "IND", "NEL", "SSA", "ESA", "HTS", "HTJ", "VTS",
    "PLD", "PLU", "RI",  "SS2",  "SS3", "DCS", "PU1", "PU2", "STS", "CCH", "MW",
    "SPA", "EPA", "SOS", "SGCI", "SCI", "CSI", "ST",  "OSC", "PM",  "APC"};

QString HtmlEntity(int code) {
    switch (code) {
        case '"':
            return QStringLiteral("&quot;");
        case '&':
            return QStringLiteral("&amp;");
        case '<':
            return QStringLiteral("&lt;");
        case '>':
            return QStringLiteral("&gt;");
        default:
            return QStringLiteral("&#%1;").arg(code);
    }
}

QString AsciiCharacter(int code) {
    if (code <= 32)
        return QString::fromLatin1(kC0Names[static_cast<std::size_t>(code)]);
    if (code == 127)
        return QStringLiteral("DEL");
    return QString(QChar(code));
}

QFont Font(const char* family, int pixels, bool bold = false) {
    QFont font(QString::fromLatin1(family));
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

const QColor kGrid(0xC8, 0xC8, 0xC8);
const QColor kShade(0xF2, 0xF4, 0xF8);
const QColor kHeader(0x1F, 0x3A, 0x68);

}  // namespace

QImage AsciiTable() {
    QImage image(715, 475, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::TextAntialiasing);

    constexpr int kBlockWidth = 178;
    constexpr int kHeaderHeight = 21;
    constexpr int kRowHeight = 14;
    constexpr std::array<int, 5> kColumns{28, 26, 30, 52, 42};  // sum 178
    const std::array<QString, 5> titles{QStringLiteral("Dec"), QStringLiteral("Hex"),
                                        QStringLiteral("Oct"), QStringLiteral("HTML"),
                                        QStringLiteral("Char")};
    const QFont headerFont = Font("DejaVu Sans", 11, true);
    const QFont cellFont = Font("DejaVu Sans Mono", 10);
    const QFont charFont = Font("DejaVu Sans Mono", 11, true);

    for (int block = 0; block < 4; ++block) {
        const int left = block * kBlockWidth + 1;
        p.fillRect(left, 0, kBlockWidth - 2, kHeaderHeight, kHeader);
        p.setPen(Qt::white);
        p.setFont(headerFont);
        int x = left;
        for (std::size_t c = 0; c < kColumns.size(); ++c) {
            p.drawText(QRect(x, 0, kColumns[c], kHeaderHeight), Qt::AlignCenter, titles[c]);
            x += kColumns[c];
        }
        for (int row = 0; row < 32; ++row) {
            const int code = block * 32 + row;
            const int top = kHeaderHeight + row * kRowHeight;
            if (row % 2 == 1)
                p.fillRect(left, top, kBlockWidth - 2, kRowHeight, kShade);
            const std::array<QString, 5> cells{
                QString::number(code),
                QStringLiteral("%1").arg(code, 2, 16, QLatin1Char('0')).toUpper(),
                QStringLiteral("%1").arg(code, 3, 8, QLatin1Char('0')), HtmlEntity(code),
                AsciiCharacter(code)};
            x = left;
            for (std::size_t c = 0; c < kColumns.size(); ++c) {
                const bool isChar = c == 4;
                p.setFont(isChar ? charFont : cellFont);
                p.setPen(isChar && (code <= 32 || code == 127) ? QColor(0x90, 0x30, 0x30)
                                                               : QColor(Qt::black));
                p.drawText(QRect(x, top, kColumns[c] - 2, kRowHeight),
                           (c == 3 ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter,
                           c == 3 ? QStringLiteral(" ") + cells[c] : cells[c]);
                x += kColumns[c];
            }
        }
        p.setPen(kGrid);
        const int bottom = kHeaderHeight + 32 * kRowHeight;
        p.drawRect(left, 0, kBlockWidth - 3, bottom);
        x = left;
        for (std::size_t c = 0; c + 1 < kColumns.size(); ++c) {
            x += kColumns[c];
            p.drawLine(x - 1, kHeaderHeight, x - 1, bottom);
        }
    }
    return image;
}

QImage ExtendedTable() {
    QImage image(573, 322, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::TextAntialiasing);

    constexpr int kCellWidth = 71;
    constexpr int kCellHeight = 20;
    const QFont codeFont = Font("DejaVu Sans Mono", 10);
    const QFont glyphFont = Font("DejaVu Sans", 14, true);
    const QFont nameFont = Font("DejaVu Sans", 9, true);

    for (int code = 128; code < 256; ++code) {
        const int column = (code - 128) / 16;
        const int row = (code - 128) % 16;
        const QRect cell(2 + column * kCellWidth, 1 + row * kCellHeight, kCellWidth, kCellHeight);
        if (row % 2 == 1)
            p.fillRect(cell, kShade);
        p.setPen(QColor(0x60, 0x60, 0x60));
        p.setFont(codeFont);
        p.drawText(cell.adjusted(4, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                   QString::number(code));
        const QRect glyph = cell.adjusted(30, 0, -3, 0);
        if (code < 160 || code == 160 || code == 173) {
            const QString name = code < 160    ? QString::fromLatin1(kC1Names[code - 128])
                                 : code == 160 ? QStringLiteral("NBSP")
                                               : QStringLiteral("SHY");
            p.setPen(QColor(0x90, 0x30, 0x30));
            p.setFont(nameFont);
            p.drawText(glyph, Qt::AlignCenter, name);
        } else {
            p.setPen(Qt::black);
            p.setFont(glyphFont);
            p.drawText(glyph, Qt::AlignCenter, QString(QChar(code)));
        }
    }
    p.setPen(kGrid);
    for (int column = 0; column <= 8; ++column) {
        p.drawLine(2 + column * kCellWidth, 1, 2 + column * kCellWidth, 1 + 16 * kCellHeight - 1);
    }
    p.drawLine(2, 1, 2 + 8 * kCellWidth, 1);
    p.drawLine(2, 16 * kCellHeight, 2 + 8 * kCellWidth, 16 * kCellHeight);
    return image;
}

}  // namespace pictures
