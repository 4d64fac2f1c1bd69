#include "app/line_list.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <algorithm>
#include <limits>
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
    for (Span& span : packed) follow(span);
    for (std::size_t k = 0; k < byBase_.size(); ++k) blocks_[byBase_[k]].base = newBases[k];
    nextBase_ = base;
}

void TLineListModel::Insert(int row, const std::vector<std::string_view>& lines,
                            const std::vector<TLineKind>& kinds) {
    if (lines.empty())
        return;
    if (!kinds.empty() && kinds.size() != lines.size())
        throw std::invalid_argument("TLineListModel::Insert: one kind per line");
    row = std::clamp(row, 0, Count());
    if (lines.size() > std::size_t(std::numeric_limits<int>::max() - Count()))
        throw std::length_error(kTooManyLines);
    for (const std::string_view line : lines) {
        if (line.size() > std::numeric_limits<std::uint32_t>::max())
            throw std::length_error(kTooMuchText);
    }
    std::vector<Span> spans;
    spans.reserve(lines.size());
    try {
        for (const std::string_view line : lines) Pack(line, spans);
    } catch (...) {
        for (const Span& span : spans) Release(span);
        throw;
    }
    if (widthsKnown_) {
        for (const std::string_view line : lines) ++widths_[measure_(line)];
    }
    beginInsertRows({}, row, row + static_cast<int>(spans.size()) - 1);
    spans_.insert(spans_.begin() + row, spans.begin(), spans.end());
    if (kinds.empty()) {
        kinds_.insert(kinds_.begin() + row, spans.size(), TLineKind::Plain);
    } else {
        kinds_.insert(kinds_.begin() + row, kinds.begin(), kinds.end());
        verdictLines_ += static_cast<int>(std::count_if(kinds.begin(), kinds.end(), IsVerdict));
    }
    endInsertRows();
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
    for (Span& span : spans_) {
        const auto start = static_cast<std::uint32_t>(packed.size());
        packed.append(Bytes(span));
        span.start = span.length == 0 ? 0 : start;
    }
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
