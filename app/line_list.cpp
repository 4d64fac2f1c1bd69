#include "app/line_list.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTimer>
#include <algorithm>
#include <array>
#include <limits>
#include <utility>
#include <stdexcept>

#include "app/latin1_text.h"
#include "app/line_filter.h"
#include "base/list_file.h"
#include "app/log_item_delegate.h"

namespace tarvik {

namespace {

// Dead bytes are dropped only beyond this, so a short list is never copied.
constexpr std::size_t kSmallWaste = std::size_t(1) << 16;

// The sizes of the blocks lines are appended to.
constexpr std::size_t kMinBlock = std::size_t(4) << 10;
constexpr std::size_t kMaxBlock = std::size_t(1) << 20;

constexpr const char* kTooMuchText = "A list holds at most 4 GiB of text.";
constexpr const char* kTooManyLines = "A list holds at most 2147483647 lines.";

// A scroll bar that is drawn again only when it would look different, and
// for a change of its range (lines coming in) at most every so often. A
// log taking a line at a time changes its range with each line, and the
// scroll bar drawn each time cost more than the new row. A move of the
// handle (the user's, or a jump to a line) is drawn at once.
class QuietScrollBar : public QScrollBar {
  public:
    QuietScrollBar(Qt::Orientation orientation, QWidget* parent)
        : QScrollBar(orientation, parent), later_(new QTimer(this)) {
        later_->setSingleShot(true);
        connect(later_, &QTimer::timeout, this, [this] {
            if (Looks() != drawn_)
                update();
        });
    }

  protected:
    void sliderChange(SliderChange change) override {
        if (Looks() == drawn_)
            return;
        const qint64 since = drawnAt_.isValid() ? drawnAt_.elapsed() : kRangeMs;
        if (change == SliderValueChange || since >= kRangeMs)
            QScrollBar::sliderChange(change);
        else if (!later_->isActive())
            later_->start(int(kRangeMs - since));
    }
    void paintEvent(QPaintEvent* event) override {
        drawn_ = Looks();
        drawnAt_.start();
        QScrollBar::paintEvent(event);
    }

  private:
    static constexpr qint64 kRangeMs = 200;
    // What the style draws from the range and value: the handle's place and
    // size, and whether the ends and the bar itself are enabled.
    struct Look {
        QRect handle;
        bool atStart = false;
        bool atEnd = false;
        bool enabled = false;
        bool operator==(const Look&) const = default;
    };
    Look Looks() const {
        QStyleOptionSlider option;
        initStyleOption(&option);
        return {style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
                value() == minimum(), value() == maximum(), minimum() < maximum()};
    }
    Look drawn_{{0, 0, -1, -1}, true, true, true};  // nothing drawn yet
    QElapsedTimer drawnAt_;
    QTimer* later_;
};

// Holds back the drawing of a scroll area's two scroll bar boxes while it
// lays out its children. That layout raises both boxes, and a box raised
// while the other lies above it is drawn again, with all beneath it (the
// log's frame, the page control): both scroll bars and the page were drawn
// for every line that came in. The boxes never overlap, so their order
// shows nothing; a box the layout moved, resized, showed or hid is drawn.
class HeldScrollBarBoxes {
  public:
    explicit HeldScrollBarBoxes(QAbstractScrollArea* area) : area_(area) {
        for (const QScrollBar* bar : {area->horizontalScrollBar(), area->verticalScrollBar()}) {
            QWidget* box = bar->parentWidget();
            if (box == nullptr || box == area || box->parentWidget() != area)
                continue;
            boxes_[held_++] = {box, box->geometry(), box->isVisible(),
                               box->testAttribute(Qt::WA_UpdatesDisabled)};
            box->setAttribute(Qt::WA_UpdatesDisabled, true);
        }
    }
    ~HeldScrollBarBoxes() {
        for (int i = 0; i < held_; ++i) {
            const Box& box = boxes_[std::size_t(i)];
            box.widget->setAttribute(Qt::WA_UpdatesDisabled, box.wasHeld);
            if (box.widget->geometry() != box.geometry || box.widget->isVisible() != box.visible)
                area_->update(box.geometry.united(box.widget->geometry()));
        }
    }
    HeldScrollBarBoxes(const HeldScrollBarBoxes&) = delete;
    HeldScrollBarBoxes& operator=(const HeldScrollBarBoxes&) = delete;

  private:
    struct Box {
        QWidget* widget = nullptr;
        QRect geometry;
        bool visible = false;
        bool wasHeld = false;
    };
    QAbstractScrollArea* area_;
    std::array<Box, 2> boxes_;
    int held_ = 0;
};

}  // namespace

int TLineListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Count();
}

QVariant TLineListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= Count())
        return {};
    if (role == kKindRole)
        return static_cast<int>(Kind(index.row()));
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return {};
    return FromText(Line(index.row()));
}

Qt::ItemFlags TLineListModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
}

std::uint32_t TLineListModel::BlockOf(std::uint32_t start) const {
    const auto after = std::upper_bound(byBase_.begin(), byBase_.end(), start,
                                        [this](std::uint32_t address, std::uint32_t block) {
                                            return address < blocks_[block].base;
                                        });
    return *(after - 1);
}

void TLineListModel::Pack(std::string_view line, std::vector<Span>& packed) {
    if (line.empty()) {
        packed.push_back({0, 0});
        return;
    }
    if (open_ == kNoBlock || blocks_[open_].extent - blocks_[open_].bytes.size() < line.size()) {
        // Blocks in proportion to the text, so that a short list holds
        // little and a long one few blocks; a long line gets a block of its own size.
        OpenBlock(std::max(std::clamp(live_ / 4, kMinBlock, kMaxBlock), line.size()), packed);
    }
    Block& block = blocks_[open_];
    packed.push_back({static_cast<std::uint32_t>(block.base + block.bytes.size()),
                      static_cast<std::uint32_t>(line.size())});
    block.bytes.append(line);  // within the capacity: no byte moves
    block.live += line.size();
    stored_ += line.size();
    live_ += line.size();
}

void TLineListModel::OpenBlock(std::size_t extent, std::vector<Span>& packed) {
    if (open_ != kNoBlock && blocks_[open_].live == 0)
        Drop(open_);
    if (nextBase_ + extent > addresses_)
        Renumber(packed);
    if (nextBase_ + extent > addresses_)
        throw std::length_error(kTooMuchText);
    std::uint32_t index;
    if (!freeBlocks_.empty()) {
        index = freeBlocks_.back();
        freeBlocks_.pop_back();
    } else {
        index = static_cast<std::uint32_t>(blocks_.size());
        blocks_.emplace_back();
    }
    Block& block = blocks_[index];
    block.bytes.reserve(extent);
    block.base = static_cast<std::uint32_t>(nextBase_);
    block.extent = extent;
    block.live = 0;
    nextBase_ += extent;
    byBase_.push_back(index);
    open_ = index;
}

void TLineListModel::Release(const Span& span) {
    if (span.length == 0)
        return;
    const std::uint32_t index = BlockOf(span.start);
    Block& block = blocks_[index];
    block.live -= span.length;
    live_ -= span.length;
    if (block.live > 0)
        return;
    stored_ -= block.bytes.size();
    if (index == open_)
        block.bytes.clear();  // filled again from its start
    else
        Drop(index);
}

void TLineListModel::Drop(std::uint32_t index) {
    byBase_.erase(std::find(byBase_.begin(), byBase_.end(), index));
    std::string().swap(blocks_[index].bytes);
    freeBlocks_.push_back(index);
    if (index == open_)
        open_ = kNoBlock;
}

void TLineListModel::Renumber(std::vector<Span>& packed) {
    std::vector<std::uint32_t> oldBases;
    std::vector<std::uint32_t> newBases;
    std::uint64_t base = 0;
    for (const std::uint32_t block : byBase_) {
        oldBases.push_back(blocks_[block].base);
        newBases.push_back(static_cast<std::uint32_t>(base));
        base += blocks_[block].extent;
    }
    const auto follow = [&](Span& span) {
        if (span.length == 0)
            return;
        const auto k =
            std::upper_bound(oldBases.begin(), oldBases.end(), span.start) - oldBases.begin() - 1;
        span.start = span.start - oldBases[std::size_t(k)] + newBases[std::size_t(k)];
    };
    for (Span& span : spans_) follow(span);
    for (Source& source : sources_) follow(source.bytes);
    for (Span& span : packed) follow(span);
    for (std::size_t k = 0; k < byBase_.size(); ++k) blocks_[byBase_[k]].base = newBases[k];
    nextBase_ = base;
}

void TLineListModel::Insert(int row, const std::vector<std::string_view>& lines,
                            const std::vector<TLineKind>& kinds,
                            const std::vector<TShownBytes>& shown) {
    if (lines.empty())
        return;
    if (!kinds.empty() && kinds.size() != lines.size())
        throw std::invalid_argument("TLineListModel::Insert: one kind per line");
    if (!shown.empty() && shown.size() != lines.size())
        throw std::invalid_argument("TLineListModel::Insert: one source per line");
    row = std::clamp(row, 0, Count());
    if (lines.size() > std::size_t(std::numeric_limits<int>::max() - Count()))
        throw std::length_error(kTooManyLines);
    for (std::size_t k = 0; k < lines.size(); ++k) {
        if (lines[k].size() > std::numeric_limits<std::uint32_t>::max())
            throw std::length_error(kTooMuchText);
        if (!shown.empty() && (shown[k].bytes.size() > std::numeric_limits<std::uint32_t>::max() ||
                               shown[k].at > lines[k].size() ||
                               shown[k].length > lines[k].size() - shown[k].at))
            throw std::invalid_argument("TLineListModel::Insert: the bytes lie outside the line");
    }
    // The lines' texts, then the bytes they keep: one vector, so that a
    // renumbering of the blocks while packing follows all of them.
    std::vector<Span> spans;
    spans.reserve(lines.size() + shown.size());
    try {
        for (const std::string_view line : lines) Pack(line, spans);
        for (const TShownBytes& source : shown) Pack(source.bytes, spans);
    } catch (...) {
        for (const Span& span : spans) Release(span);
        throw;
    }
    const std::size_t count = lines.size();
    beginInsertRows({}, row, row + static_cast<int>(count) - 1);
    // Measured once the rows are about to change: until then the widest is the old one.
    if (widthsKnown_) {
        for (const std::string_view line : lines) ++widths_[measure_(line)];
    }
    spans_.insert(spans_.begin() + row, spans.begin(), spans.begin() + std::ptrdiff_t(count));
    if (kinds.empty()) {
        kinds_.insert(kinds_.begin() + row, count, TLineKind::Plain);
    } else {
        kinds_.insert(kinds_.begin() + row, kinds.begin(), kinds.end());
        verdictLines_ += static_cast<int>(std::count_if(kinds.begin(), kinds.end(), IsVerdict));
    }
    if (!shown.empty()) {
        if (std::size_t(row) > sources_.size())
            sources_.resize(std::size_t(row), Source{{0, 0}, 0, 0});
        std::vector<Source> added;
        added.reserve(count);
        for (std::size_t k = 0; k < count; ++k) {
            added.push_back({spans[count + k], static_cast<std::uint32_t>(shown[k].at),
                             static_cast<std::uint32_t>(shown[k].length)});
        }
        sources_.insert(sources_.begin() + row, added.begin(), added.end());
        TrimSources();
    } else if (std::size_t(row) < sources_.size()) {
        sources_.insert(sources_.begin() + row, count, Source{{0, 0}, 0, 0});
    }
    endInsertRows();
}

int TLineListModel::LinesWithBytes() const {
    return static_cast<int>(std::count_if(sources_.begin(), sources_.end(),
                                          [](const Source& source) { return source.bytes.length > 0; }));
}

std::string_view TLineListModel::BytesOf(int row) const {
    return std::size_t(row) < sources_.size() ? Bytes(sources_[std::size_t(row)].bytes)
                                              : std::string_view();
}

void TLineListModel::TrimSources() {
    while (!sources_.empty() && sources_.back().bytes.length == 0) sources_.pop_back();
}

void TLineListModel::Reshow(const Display& display) {
    struct Change {
        std::size_t row;
        Text text;
        std::size_t length;
    };
    std::vector<Change> changes;
    for (std::size_t row = 0; row < sources_.size(); ++row) {
        const Source& source = sources_[row];
        if (source.bytes.length == 0)
            continue;
        const std::string_view line = Bytes(spans_[row]);
        std::string shown = display(Bytes(source.bytes));
        if (line.substr(source.at, source.length) == shown)
            continue;
        Text text;
        text.reserve(line.size() - source.length + shown.size());
        text.append(line.substr(0, source.at));
        text += shown;
        text.append(line.substr(source.at + source.length));
        changes.push_back({row, std::move(text), shown.size()});
    }
    if (changes.empty())
        return;
    beginResetModel();
    for (Change& change : changes) {
        std::vector<Span> packed;
        Pack(change.text, packed);  // may renumber: the old span follows
        Span& span = spans_[change.row];
        if (widthsKnown_) {
            const auto width = widths_.find(measure_(Bytes(span)));
            if (width != widths_.end() && --width->second == 0)
                widths_.erase(width);
            ++widths_[measure_(change.text)];
        }
        Release(span);
        span = packed.front();
        sources_[change.row].length = static_cast<std::uint32_t>(change.length);
    }
    endResetModel();
    CompactIfWasteful();
}

void TLineListModel::Remove(int row, int count) {
    count = std::min(count, Count() - row);
    if (row < 0 || count <= 0)
        return;
    beginRemoveRows({}, row, row + count - 1);
    const auto first = spans_.begin() + row;
    const auto last = first + count;
    for (auto span = first; span != last; ++span) {
        if (widthsKnown_) {
            const auto width = widths_.find(measure_(Bytes(*span)));
            if (width != widths_.end() && --width->second == 0)
                widths_.erase(width);
        }
        Release(*span);
    }
    spans_.erase(first, last);
    if (std::size_t(row) < sources_.size()) {
        const auto from = sources_.begin() + row;
        const auto to = sources_.begin() + std::min<std::ptrdiff_t>(row + count, std::ptrdiff_t(sources_.size()));
        for (auto source = from; source != to; ++source) Release(source->bytes);
        sources_.erase(from, to);
        TrimSources();
    }
    const auto firstKind = kinds_.begin() + row;
    verdictLines_ -= static_cast<int>(std::count_if(firstKind, firstKind + count, IsVerdict));
    kinds_.erase(firstKind, firstKind + count);
    endRemoveRows();
    CompactIfWasteful();
}

void TLineListModel::Clear() {
    beginResetModel();
    spans_.clear();
    kinds_.clear();
    sources_.clear();
    verdictLines_ = 0;
    DropAll();
    widths_.clear();
    widthsKnown_ = bool(measure_);
    endResetModel();
}

void TLineListModel::DropAll() {
    blocks_.clear();
    freeBlocks_.clear();
    byBase_.clear();
    nextBase_ = 0;
    open_ = kNoBlock;
    stored_ = 0;
    live_ = 0;
}

void TLineListModel::Adopt(std::string bytes, std::size_t live) {
    DropAll();
    if (bytes.empty())
        return;
    // Full as a rule: lines added later open another block.
    stored_ = bytes.size();
    live_ = live;
    nextBase_ = bytes.size();
    blocks_.push_back({std::move(bytes), 0, std::size_t(nextBase_), live});
    byBase_.push_back(0);
}

void TLineListModel::Replace(std::string content) {
    if (content.size() > std::numeric_limits<std::uint32_t>::max())
        throw std::length_error(kTooMuchText);
    // The old lines go only once the new ones are counted.
    std::deque<Span> spans;
    std::size_t used = 0;
    ForEachListLine(content, [&](std::size_t start, std::size_t length) {
        spans.push_back({static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(length)});
        used += length;
    });
    if (spans.size() > std::size_t(std::numeric_limits<int>::max()))
        throw std::length_error(kTooManyLines);
    Clear();
    if (spans.empty())
        return;
    beginInsertRows({}, 0, static_cast<int>(spans.size()) - 1);
    // The text itself is the one block.
    Adopt(std::move(content), used);
    kinds_.assign(spans.size(), TLineKind::Plain);
    spans_ = std::move(spans);
    widthsKnown_ = false;  // measured when the view first asks
    endInsertRows();
    CompactIfWasteful();
}

void TLineListModel::CompactIfWasteful() {
    const std::size_t dead = stored_ - live_;
    if (dead > kSmallWaste && dead > stored_ / 2)
        Compact();
}

void TLineListModel::Compact() {
    std::string packed;
    packed.reserve(live_);
    const auto move = [&](Span& span) {
        const auto start = static_cast<std::uint32_t>(packed.size());
        packed.append(Bytes(span));
        span.start = span.length == 0 ? 0 : start;
    };
    for (Span& span : spans_) move(span);
    for (Source& source : sources_) move(source.bytes);
    Adopt(std::move(packed), live_);
}

void TLineListModel::SetMeasure(Measure measure) const {
    measure_ = std::move(measure);
    widths_.clear();
    widthsKnown_ = false;
}

int TLineListModel::Widest() const {
    if (!widthsKnown_ && measure_) {
        for (int row = 0; row < Count(); ++row) ++widths_[measure_(Line(row))];
        widthsKnown_ = true;
    }
    return widths_.empty() ? 0 : widths_.rbegin()->first;
}

TLineList::TLineList(QWidget* parent) : QListView(parent), model_(new TLineListModel(this)) {
    setModel(model_);
    setVerticalScrollBar(new QuietScrollBar(Qt::Vertical, this));
    setHorizontalScrollBar(new QuietScrollBar(Qt::Horizontal, this));
    // A line changed in place is drawn where it is.
    connect(model_, &QAbstractItemModel::dataChanged, this, [this] { NoteChange(-1); });
    connect(model_, &QAbstractItemModel::layoutChanged, this, [this] { NoteChange(-1); });
    connect(model_, &QAbstractItemModel::modelReset, this, [this] { NoteChange(-1); });
    connect(model_, &QAbstractItemModel::rowsAboutToBeInserted, this, [this] {
        if (shift_ == 0)
            before_ = CurrentShape();
    });
    // One row height for all: the view places a million rows without asking each.
    setUniformItemSizes(true);
    setItemDelegate(new TLogItemDelegate(this));
}

QString TLineList::text(int row) const {
    return FromText(model_->Line(row));
}

void TLineList::addItems(const QStringList& lines) {
    std::vector<Text> texts;
    texts.reserve(static_cast<std::size_t>(lines.size()));
    for (const QString& line : lines) texts.push_back(ToText(line));
    model_->Insert(count(), std::vector<std::string_view>(texts.begin(), texts.end()));
}

void TLineList::insertItem(int row, const QString& line) {
    const Text text = ToText(line);
    model_->Insert(row, {text});
}

void TLineList::setCurrentRow(int row, QItemSelectionModel::SelectionFlags command) {
    selectionModel()->setCurrentIndex(ViewIndex(row), command);
}

bool TLineList::isRowSelected(int row) const {
    return selectionModel()->isSelected(ViewIndex(row));
}

QModelIndex TLineList::ViewIndex(int row) const {
    if (filter_ == nullptr)
        return model_->index(row, 0);
    const int shown = filter_->RowOf(row);
    return shown < 0 ? QModelIndex() : filter_->index(shown, 0);
}

int TLineList::SourceRow(const QModelIndex& index) const {
    if (!index.isValid())
        return -1;
    return filter_ == nullptr ? index.row() : filter_->SourceRow(index.row());
}

void TLineList::SetFilter(std::function<bool(int row)> test) {
    const int current = currentRow();
    QItemSelectionModel* old = selectionModel();
    if (!test) {
        if (filter_ == nullptr)
            return;
        setModel(model_);
        delete filter_;
        filter_ = nullptr;
    } else if (filter_ == nullptr) {
        filter_ = new TLineFilterModel(model_, this);
        filter_->SetTest(std::move(test));
        setModel(filter_);
    } else {
        filter_->SetTest(std::move(test));
    }
    if (selectionModel() != old)
        delete old;
    // The current line stays current where it is shown.
    const QModelIndex index = ViewIndex(current);
    if (index.isValid()) {
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
        scrollTo(index);
    }
}

void TLineList::Reshow(const TLineListModel::Display& display) {
    if (model_->LinesWithBytes() == 0)
        return;
    const QList<int> selected = selectedRows();
    const int current = currentRow();
    const int top = verticalScrollBar()->value();
    const int left = horizontalScrollBar()->value();
    model_->Reshow(display);
    QItemSelection selection;
    for (const int row : selected) {
        const QModelIndex index = ViewIndex(row);
        if (!index.isValid())
            continue;
        // Neighbours join one range: all of a million lines selected stay one.
        if (!selection.isEmpty() && selection.back().bottom() + 1 == index.row())
            selection.back() = QItemSelectionRange(selection.back().topLeft(), index);
        else
            selection.select(index, index);
    }
    selectionModel()->select(selection, QItemSelectionModel::Select);
    const QModelIndex currentIndex = ViewIndex(current);
    if (currentIndex.isValid())
        selectionModel()->setCurrentIndex(currentIndex, QItemSelectionModel::NoUpdate);
    executeDelayedItemsLayout();
    verticalScrollBar()->setValue(top);
    horizontalScrollBar()->setValue(left);
}

std::pair<const TLineListModel*, int> LineOf(const QModelIndex& index) {
    if (const auto* lines = qobject_cast<const TLineListModel*>(index.model()))
        return {lines, index.row()};
    if (const auto* filter = qobject_cast<const TLineFilterModel*>(index.model()))
        return {filter->Lines(), filter->SourceRow(index.row())};
    return {nullptr, -1};
}

QList<int> TLineList::selectedRows() const {
    // By ranges: all of a million lines selected are one range, not a
    // million indexes.
    QList<int> rows;
    for (const QItemSelectionRange& range : selectionModel()->selection()) {
        for (int row = range.top(); row <= range.bottom(); ++row)
            rows.push_back(filter_ == nullptr ? row : filter_->SourceRow(row));
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

QString TLineList::SelectedText() const {
    const QList<int> rows = selectedRows();
    std::string text;
    for (const int row : rows) {
        if (!text.empty() || row != rows.front())
            text += '\n';
        text.append(model_->Line(row));
    }
    return FromText(text);
}

void TLineList::CopyToClipboard() const {
    if (selectionModel()->hasSelection())
        QGuiApplication::clipboard()->setText(SelectedText());
}

TLineList::Shape TLineList::CurrentShape() const {
    return {verticalScrollBar()->value(), horizontalScrollBar()->value(), model_->Widest(),
            model_->VerdictLines() > 0, viewport()->size()};
}

void TLineList::NoteChange(int rowsAtTop) {
    shift_ = shift_ < 0 || rowsAtTop < 0 ? -1 : shift_ + rowsAtTop;
}

void TLineList::rowsInserted(const QModelIndex& parent, int start, int end) {
    NoteChange(model() == model_ && !parent.isValid() && start == 0 ? end - start + 1 : -1);
    QListView::rowsInserted(parent, start, end);
}

void TLineList::rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) {
    // Only lines leaving at the bottom keep the rows above where they are;
    // a current line leaving makes another one current, drawn anew.
    const int current = currentIndex().row();
    const bool atBottom = model() == model_ && !parent.isValid() && end == model_->Count() - 1 &&
                          !(current >= start && current <= end);
    if (shift_ == 0)
        before_ = CurrentShape();
    NoteChange(atBottom ? 0 : -1);
    QListView::rowsAboutToBeRemoved(parent, start, end);
}

bool TLineList::event(QEvent* event) {
    // The scroll area lays out its children again on these: after a change
    // of a scroll bar's range (a queued call) and on request.
    if (event->type() == QEvent::MetaCall || event->type() == QEvent::LayoutRequest) {
        const HeldScrollBarBoxes boxes(this);
        return QListView::event(event);
    }
    return QListView::event(event);
}

void TLineList::doItemsLayout() {
    const HeldScrollBarBoxes boxes(this);
    const int rows = std::exchange(shift_, 0);
    if (rows <= 0 || !isVisible() || flow() != TopToBottom || viewMode() != ListMode ||
        isWrapping() || spacing() != 0 || gridSize().isValid()) {
        QListView::doItemsLayout();
        return;
    }
    // The layout asks for the whole viewport to be drawn; that request is
    // held back while it runs, and what the layout changed decides after.
    QWidget* const port = viewport();
    const bool held = port->testAttribute(Qt::WA_UpdatesDisabled);
    port->setAttribute(Qt::WA_UpdatesDisabled, true);
    QListView::doItemsLayout();
    port->setAttribute(Qt::WA_UpdatesDisabled, held);
    const int height = visualRect(model_->index(0, 0)).height();
    if (held || CurrentShape() != before_ || height <= 0 || rows >= port->height() / height + 1)
        port->update();
    else
        port->scroll(0, rows * height);  // the rows uncovered at the top are drawn
}

void TLineList::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        CopyToClipboard();
        event->accept();
        return;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        if (selectionMode() == ExtendedSelection || selectionMode() == MultiSelection)
            selectAll();
        event->accept();
        return;
    }
    QListView::keyPressEvent(event);
}

}  // namespace tarvik
