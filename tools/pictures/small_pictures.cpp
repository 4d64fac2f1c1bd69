#include "small_pictures.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygon>

namespace pictures {

namespace {

const QColor kKey(255, 0, 255);
const QColor kOutline(0x30, 0x30, 0x30);

QImage Blank(int size) {
    QImage image(size, size, QImage::Format_RGB32);
    image.fill(kKey);
    return image;
}

// A page with a folded corner, at (x, y), w x h.
void Page(QPainter& p, int x, int y, int w, int h) {
    p.setPen(kOutline);
    p.setBrush(Qt::white);
    p.drawPolygon(QPolygon({QPoint(x, y), QPoint(x + w - 4, y), QPoint(x + w, y + 4),
                            QPoint(x + w, y + h), QPoint(x, y + h)}));
}

void Lines(QPainter& p, int x, int y, int w, int count, int step) {
    p.setPen(QColor(0x50, 0x70, 0xB0));
    for (int i = 0; i < count; ++i) p.drawLine(x, y + i * step, x + w, y + i * step);
}

void Cross(QPainter& p, QRect r, int width) {
    p.setPen(QPen(QColor(0xC0, 0x20, 0x20), width, Qt::SolidLine, Qt::SquareCap));
    p.drawLine(r.topLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomLeft());
}

void Letters(QPainter& p, QRect r, const QString& text, int pixels, QColor color) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixels);
    font.setBold(true);
    font.setStyleStrategy(QFont::NoAntialias);
    p.setFont(font);
    p.setPen(color);
    p.drawText(r, Qt::AlignCenter, text);
}

}  // namespace

QImage DrawSmall(Small picture) {
    const bool large = picture <= Small::Clear;
    QImage image = Blank(picture == Small::About ? 48 : large ? 24 : 16);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    switch (picture) {
        case Small::Start:
            p.setPen(QColor(0x10, 0x60, 0x10));
            p.setBrush(QColor(0x30, 0xB0, 0x30));
            p.drawPolygon(QPolygon({QPoint(6, 3), QPoint(20, 12), QPoint(6, 21)}));
            break;
        case Small::Stop:
            p.setPen(QColor(0x70, 0x10, 0x10));
            p.setBrush(QColor(0xD0, 0x30, 0x30));
            p.drawRect(5, 5, 14, 14);
            break;
        case Small::Send:
            p.setPen(QColor(0x10, 0x30, 0x70));
            p.setBrush(QColor(0x30, 0x70, 0xD0));
            p.drawPolygon(QPolygon({QPoint(2, 9), QPoint(12, 9), QPoint(12, 4), QPoint(21, 12),
                                    QPoint(12, 20), QPoint(12, 15), QPoint(2, 15)}));
            break;
        case Small::Sum:
            Letters(p, image.rect(), QStringLiteral("\u03A3"), 20, QColor(0x20, 0x50, 0x90));
            break;
        case Small::Bcc:
            p.setPen(QPen(QColor(0x20, 0x70, 0x50), 2));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(4, 4, 15, 15);
            p.drawLine(12, 5, 12, 19);
            p.drawLine(5, 12, 19, 12);
            break;
        case Small::Calculator:
            p.setPen(kOutline);
            p.setBrush(QColor(0xB0, 0xB0, 0xB8));
            p.drawRect(4, 1, 16, 22);
            p.setBrush(QColor(0xD0, 0xF0, 0xD0));
            p.drawRect(6, 3, 12, 5);
            p.setBrush(Qt::white);
            for (int row = 0; row < 3; ++row) {
                for (int col = 0; col < 3; ++col) p.drawRect(6 + col * 4, 10 + row * 4, 2, 2);
            }
            break;
        case Small::Notepad:
            Page(p, 4, 1, 16, 22);
            Lines(p, 7, 7, 10, 6, 3);
            break;
        case Small::Clear:
            Page(p, 3, 2, 14, 19);
            Cross(p, QRect(11, 11, 10, 10), 3);
            break;
        case Small::Timer:
            p.setPen(kOutline);
            p.setBrush(Qt::white);
            p.drawEllipse(1, 1, 13, 13);
            p.drawLine(8, 8, 8, 3);
            p.drawLine(8, 8, 11, 8);
            break;
        case Small::About: {
            // A nine-pin serial connector.
            p.setPen(QPen(kOutline, 2));
            p.setBrush(QColor(0x90, 0x98, 0xA8));
            p.drawPolygon(QPolygon({QPoint(3, 13), QPoint(44, 13), QPoint(38, 35), QPoint(9, 35)}));
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(0xE8, 0xC0, 0x40));
            for (int i = 0; i < 5; ++i) p.drawRect(10 + i * 6, 19, 3, 3);
            for (int i = 0; i < 4; ++i) p.drawRect(13 + i * 6, 27, 3, 3);
            break;
        }
        case Small::MenuLoad:
            p.setPen(kOutline);
            p.setBrush(QColor(0xE8, 0xC0, 0x40));
            p.drawPolygon(QPolygon({QPoint(1, 3), QPoint(6, 3), QPoint(7, 5), QPoint(14, 5),
                                    QPoint(14, 13), QPoint(1, 13)}));
            break;
        case Small::MenuSave:
            p.setPen(kOutline);
            p.setBrush(QColor(0x30, 0x50, 0x90));
            p.drawRect(1, 1, 13, 13);
            p.setBrush(Qt::white);
            p.drawRect(4, 2, 7, 4);
            p.drawRect(4, 9, 7, 4);
            break;
        case Small::MenuCopyAll:
            Page(p, 1, 1, 8, 10);
            Page(p, 6, 4, 8, 10);
            Lines(p, 8, 7, 4, 3, 2);
            break;
        case Small::MenuCopy:
            Page(p, 1, 1, 8, 10);
            Page(p, 6, 4, 8, 10);
            break;
        case Small::MenuPaste:
            p.setPen(kOutline);
            p.setBrush(QColor(0xB0, 0x80, 0x50));
            p.drawRect(2, 2, 11, 13);
            Page(p, 5, 5, 8, 9);
            break;
        case Small::MenuClear:
            Cross(p, QRect(3, 3, 9, 9), 2);
            break;
    }
    return image;
}

QImage HiddenPicture() {
    QImage image(150, 176, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(13);
    font.setBold(true);
    p.setFont(font);
    p.setPen(QColor(0x80, 0, 0));
    p.drawText(QRect(0, 6, 150, 18), Qt::AlignCenter, QStringLiteral("You found it!"));

    // The byte "T" (0x54) on the line at 8E1: start bit, eight data bits with the
    // lowest first, even parity, stop bit.
    const int bits[] = {0, 0, 0, 1, 0, 1, 0, 1, 0, 1, 1};
    constexpr int kLeft = 8, kStep = 12, kHigh = 52, kLow = 82;
    p.setPen(QPen(QColor(0x20, 0x50, 0x90), 2));
    QPainterPath wave(QPointF(kLeft - 6, kHigh));
    wave.lineTo(kLeft, kHigh);
    for (int i = 0; i < 11; ++i) {
        const int level = bits[i] ? kHigh : kLow;
        wave.lineTo(kLeft + i * kStep, level);
        wave.lineTo(kLeft + (i + 1) * kStep, level);
    }
    wave.lineTo(kLeft + 11 * kStep + 6, kHigh);
    p.drawPath(wave);
    font.setPixelSize(9);
    font.setBold(false);
    p.setFont(font);
    p.setPen(QColor(0x50, 0x50, 0x50));
    const char* names[] = {"S", "0", "1", "2", "3", "4", "5", "6", "7", "P", "E"};
    for (int i = 0; i < 11; ++i) {
        p.drawText(QRect(kLeft + i * kStep, kLow + 4, kStep, 12), Qt::AlignCenter,
                   QString::fromLatin1(names[i]));
    }
    font.setPixelSize(11);
    p.setFont(font);
    p.setPen(QColor(0x30, 0x30, 0x30));
    p.drawText(QRect(4, 110, 142, 60), Qt::AlignCenter | Qt::TextWordWrap,
               QStringLiteral("0x54 \"T\" at 8E1:\nstart, 8 data bits,\neven parity, stop"));
    return image;
}

}  // namespace pictures
