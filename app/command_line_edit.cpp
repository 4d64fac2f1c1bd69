#include "app/command_line_edit.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTextOption>
#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>

#include "app/default_error.h"

namespace tarvik {

namespace {

// QLineEdit's own spacing between its contents rectangle and the text.
constexpr int kHorizontalMargin = 2;
// Characters laid out on each side of the cursor in long mode: far more
// than the widest line edit shows, and little to shape.
constexpr qsizetype kAround = 2048;

class ETextTooLong : public std::runtime_error {
  public:
    explicit ETextTooLong(qsizetype length)
        : std::runtime_error("The text is too long for the command line: it would hold " +
                             std::to_string(length) + " characters, at most " +
                             std::to_string(TCommandLineEdit::kMaxLength) +
                             " fit. The line was left as it was") {}
};

bool IsSpace(QChar c) {
    return c.isSpace();
}

}  // namespace

TCommandLineEdit::TCommandLineEdit(QWidget* parent) : QLineEdit(parent) {
    connect(this, &QLineEdit::textChanged, this, &TCommandLineEdit::FollowLength);
    // QLineEdit repaints only where it believes its cursor is, which in
    // long mode is not where this class draws it.
    const auto repaint = [this] {
        if (IsLong())
            update();
    };
    connect(this, &QLineEdit::cursorPositionChanged, this, repaint);
    connect(this, &QLineEdit::selectionChanged, this, repaint);
}

TCommandLineEdit::~TCommandLineEdit() = default;

bool TCommandLineEdit::IsLong() const {
    return echoMode() == QLineEdit::NoEcho;
}

void TCommandLineEdit::FollowLength() {
    SetLong(text().size() > kLongLine);
}

void TCommandLineEdit::SetLong(bool on) {
    if (on == IsLong())
        return;
    setEchoMode(on ? QLineEdit::NoEcho : QLineEdit::Normal);
    // NoEcho marks the text as hidden for input methods; this text is not.
    setInputMethodHints(Qt::ImhNone);
    first_ = 0;
    update();
}

bool TCommandLineEdit::Paste(QClipboard::Mode mode) {
    if (isReadOnly())
        return false;
    const QString clip = QGuiApplication::clipboard()->text(mode);
    const qsizetype length = text().size() - selectedText().size() + clip.size();
    if (length > kMaxLength) {
        ShowDefaultError(ETextTooLong(length));
        return true;
    }
    if (length <= kLongLine && !IsLong())
        return false;  // QLineEdit's own paste, exactly as ever
    // Drawn by this class before the text arrives, so that QLineEdit never
    // lays it out.
    SetLong(true);
    if (!clip.isEmpty() || hasSelectedText())
        insert(clip);
    return true;
}

void TCommandLineEdit::PasteFrom(QClipboard::Mode mode) {
    if (Paste(mode) || isReadOnly())
        return;
    if (mode == QClipboard::Clipboard)
        paste();
    else
        insert(QGuiApplication::clipboard()->text(mode));
}

void TCommandLineEdit::CutSelection() {
    if (!IsLong()) {
        cut();
    } else if (!isReadOnly() && hasSelectedText()) {
        CopySelection();
        del();
    }
}

void TCommandLineEdit::TakeOverEditItems(QMenu* menu) {
    // QLineEdit's items carry no names; their texts end in their shortcut,
    // whatever the language.
    const auto is = [](const QAction* item, QKeySequence::StandardKey key) {
        return item->text().endsWith(u'\t' + QKeySequence(key).toString(QKeySequence::NativeText));
    };
    for (QAction* item : menu->actions()) {
        std::function<void()> command;
        if (is(item, QKeySequence::Cut)) {
            command = [this] { CutSelection(); };
            item->setEnabled(!isReadOnly() && hasSelectedText());
        } else if (is(item, QKeySequence::Copy)) {
            command = [this] { CopySelection(); };
            item->setEnabled(hasSelectedText());
        } else if (is(item, QKeySequence::Paste)) {
            command = [this] { PasteFrom(QClipboard::Clipboard); };
        } else {
            continue;
        }
        disconnect(item, &QAction::triggered, nullptr, nullptr);
        connect(item, &QAction::triggered, this, command);
    }
}

void TCommandLineEdit::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Paste) && Paste(QClipboard::Clipboard)) {
        event->accept();
        return;
    }
    if (IsLong() && LongKey(event)) {
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

bool TCommandLineEdit::LongKey(QKeyEvent* event) {
    const qsizetype cursor = cursorPosition();
    const qsizetype size = text().size();
    const auto ends = [this] {
        return std::pair<qsizetype, qsizetype>(selectionStart(), selectionEnd());
    };
    if (event->matches(QKeySequence::MoveToNextChar)) {
        MoveTo(hasSelectedText() ? ends().second : std::min(size, cursor + 1), false);
    } else if (event->matches(QKeySequence::MoveToPreviousChar)) {
        MoveTo(hasSelectedText() ? ends().first : std::max<qsizetype>(0, cursor - 1), false);
    } else if (event->matches(QKeySequence::SelectNextChar)) {
        MoveTo(std::min(size, cursor + 1), true);
    } else if (event->matches(QKeySequence::SelectPreviousChar)) {
        MoveTo(std::max<qsizetype>(0, cursor - 1), true);
    } else if (event->matches(QKeySequence::MoveToNextWord)) {
        MoveTo(WordRight(cursor), false);
    } else if (event->matches(QKeySequence::MoveToPreviousWord)) {
        MoveTo(WordLeft(cursor), false);
    } else if (event->matches(QKeySequence::SelectNextWord)) {
        MoveTo(WordRight(cursor), true);
    } else if (event->matches(QKeySequence::SelectPreviousWord)) {
        MoveTo(WordLeft(cursor), true);
    } else if (event->matches(QKeySequence::Delete)) {
        if (isReadOnly())
            return true;
        if (hasSelectedText())
            del();
        else if (cursor < size)
            SelectAndDelete(cursor, cursor + 1);
    } else if (event->matches(QKeySequence::DeleteEndOfWord)) {
        if (!isReadOnly())
            SelectAndDelete(cursor, WordRight(cursor));
    } else if (event->matches(QKeySequence::DeleteStartOfWord)) {
        if (!isReadOnly())
            SelectAndDelete(WordLeft(cursor), cursor);
    } else if (event->matches(QKeySequence::Copy)) {
        CopySelection();
    } else if (event->matches(QKeySequence::Cut)) {
        CutSelection();
    } else {
        return false;
    }
    return true;
}

void TCommandLineEdit::MoveTo(qsizetype position, bool select) {
    if (!select) {
        deselect();
        setCursorPosition(int(position));
        return;
    }
    qsizetype anchor = cursorPosition();
    if (hasSelectedText())
        anchor = cursorPosition() == selectionStart() ? selectionEnd() : selectionStart();
    setSelection(int(anchor), int(position - anchor));
}

void TCommandLineEdit::CopySelection() const {
    if (!IsLong())
        copy();
    else if (hasSelectedText())
        QGuiApplication::clipboard()->setText(selectedText());
}

void TCommandLineEdit::SelectAndDelete(qsizetype from, qsizetype to) {
    if (to <= from)
        return;
    setSelection(int(from), int(to - from));
    del();
}

qsizetype TCommandLineEdit::WordRight(qsizetype from) const {
    const QString t = text();
    qsizetype i = from;
    while (i < t.size() && !IsSpace(t[i])) ++i;
    while (i < t.size() && IsSpace(t[i])) ++i;
    return i;
}

qsizetype TCommandLineEdit::WordLeft(qsizetype from) const {
    const QString t = text();
    qsizetype i = from;
    while (i > 0 && IsSpace(t[i - 1])) --i;
    while (i > 0 && !IsSpace(t[i - 1])) --i;
    return i;
}

std::unique_ptr<TCommandLineEdit::Shown> TCommandLineEdit::Layout() {
    auto shown = std::make_unique<Shown>();
    QStyleOptionFrame panel;
    initStyleOption(&panel);
    QRect r = style()->subElementRect(QStyle::SE_LineEditContents, &panel, this);
    r = r.marginsRemoved(textMargins());
    const QFontMetrics metrics = fontMetrics();
    const int top = r.y() + (r.height() - metrics.height() + 1) / 2;
    shown->area =
        QRectF(r.x() + kHorizontalMargin, top, r.width() - 2 * kHorizontalMargin, metrics.height());

    const QString t = text();
    const qsizetype cursor = cursorPosition();
    const auto layOut = [&](qsizetype from, qsizetype to) {
        QString part = t.mid(from, to - from);
        // Drawn as QLineEdit draws them: control characters as spaces.
        for (QChar& c : part) {
            if ((c.unicode() < 0x20 && c != u'\t') || c == QChar::LineSeparator ||
                c == QChar::ParagraphSeparator || c == QChar::ObjectReplacementCharacter)
                c = u' ';
        }
        shown->layout.clearLayout();
        shown->layout.setText(part);
        shown->layout.setFont(font());
        QTextOption option;
        option.setFlags(QTextOption::IncludeTrailingSpaces);
        option.setTextDirection(layoutDirection());
        shown->layout.setTextOption(option);
        shown->layout.beginLayout();
        shown->layout.createLine();
        shown->layout.endLayout();
    };
    first_ = std::clamp<qsizetype>(first_, 0, t.size());
    if (cursor < first_)
        first_ = cursor;
    const qreal width = shown->area.width();
    bool beyond = cursor - first_ > kAround;
    if (!beyond) {
        layOut(first_, std::min(t.size(), cursor + kAround));
        beyond = shown->layout.lineAt(0).cursorToX(int(cursor - first_)) > width - 1;
    }
    if (beyond) {
        // Scroll so that the cursor stands at the right edge.
        const qsizetype from = std::max<qsizetype>(0, cursor - kAround);
        layOut(from, cursor);
        const QTextLine line = shown->layout.lineAt(0);
        const qreal end = line.cursorToX(int(cursor - from));
        first_ = from + line.xToCursor(end - width + 1, QTextLine::CursorOnCharacter) + 1;
        first_ = std::min(first_, cursor);
        layOut(first_, std::min(t.size(), cursor + kAround));
    }
    if (first_ > 0 && first_ < t.size() && t[first_].isLowSurrogate())
        layOut(--first_, std::min(t.size(), cursor + kAround));
    shown->first = first_;
    shown->origin = shown->area.topLeft();
    return shown;
}

void TCommandLineEdit::paintEvent(QPaintEvent* event) {
    if (!IsLong()) {
        QLineEdit::paintEvent(event);
        return;
    }
    QPainter painter(this);
    QStyleOptionFrame panel;
    initStyleOption(&panel);
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &panel, &painter, this);
    const std::unique_ptr<Shown> shown = Layout();
    painter.setClipRect(shown->area.adjusted(-1, 0, 1, 0));
    painter.setPen(palette().color(QPalette::Text));
    QList<QTextLayout::FormatRange> selections;
    if (hasSelectedText()) {
        const qsizetype length = shown->layout.text().size();
        const qsizetype from = std::clamp<qsizetype>(selectionStart() - shown->first, 0, length);
        const qsizetype to = std::clamp<qsizetype>(selectionEnd() - shown->first, 0, length);
        if (to > from) {
            QTextLayout::FormatRange range;
            range.start = int(from);
            range.length = int(to - from);
            range.format.setBackground(palette().brush(QPalette::Highlight));
            range.format.setForeground(palette().brush(QPalette::HighlightedText));
            selections.append(range);
        }
    }
    shown->layout.draw(&painter, shown->origin, selections, shown->area);
    if (hasFocus() && !isReadOnly()) {
        const int width = style()->pixelMetric(QStyle::PM_TextCursorWidth, &panel, this);
        shown->layout.drawCursor(&painter, shown->origin, int(cursorPosition() - shown->first),
                                 width);
    }
}

qsizetype TCommandLineEdit::PositionAt(const QPointF& point) {
    const std::unique_ptr<Shown> shown = Layout();
    const int at = shown->layout.lineAt(0).xToCursor(point.x() - shown->origin.x());
    return std::min(text().size(), shown->first + at);
}

// In long mode QLineEdit would place the cursor from its own (empty)
// layout: every button but the right one is handled here.
void TCommandLineEdit::mousePressEvent(QMouseEvent* event) {
    if (!IsLong() || event->button() == Qt::RightButton) {
        QLineEdit::mousePressEvent(event);
        return;
    }
    if (event->button() != Qt::LeftButton) {
        event->accept();
        return;
    }
    const qsizetype at = PositionAt(event->position());
    const bool extend = event->modifiers().testFlag(Qt::ShiftModifier);
    MoveTo(at, extend);
    anchor_ = extend && hasSelectedText()
                  ? (cursorPosition() == selectionStart() ? selectionEnd() : selectionStart())
                  : at;
    event->accept();
}

void TCommandLineEdit::mouseMoveEvent(QMouseEvent* event) {
    if (!IsLong()) {
        QLineEdit::mouseMoveEvent(event);
        return;
    }
    event->accept();
    if (anchor_ < 0 || !(event->buttons() & Qt::LeftButton))
        return;
    const qsizetype at = PositionAt(event->position());
    setSelection(int(anchor_), int(at - anchor_));
}

void TCommandLineEdit::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        anchor_ = -1;
    // The X11 selection pastes with the middle button; its length is
    // checked like a Ctrl+V.
    if (event->button() == Qt::MiddleButton && QGuiApplication::clipboard()->supportsSelection() &&
        rect().contains(event->position().toPoint())) {
        if (IsLong())
            setCursorPosition(int(PositionAt(event->position())));
        if (Paste(QClipboard::Selection)) {
            event->accept();
            return;
        }
    }
    if (IsLong()) {
        event->accept();
        return;
    }
    QLineEdit::mouseReleaseEvent(event);
}

void TCommandLineEdit::mouseDoubleClickEvent(QMouseEvent* event) {
    if (!IsLong() || event->button() != Qt::LeftButton) {
        QLineEdit::mouseDoubleClickEvent(event);
        return;
    }
    const qsizetype at = PositionAt(event->position());
    const qsizetype from = WordLeft(std::min(text().size(), at + 1));
    qsizetype to = from;
    const QString t = text();
    while (to < t.size() && !IsSpace(t[to])) ++to;
    setSelection(int(from), int(to - from));
    anchor_ = -1;
    event->accept();
}

// QLineEdit repaints only its own idea of the cursor's place when the focus
// comes or goes; the cursor this class draws shows with the focus only.
void TCommandLineEdit::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    if (IsLong())
        update();
}

void TCommandLineEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    if (IsLong())
        update();
}

}  // namespace tarvik
