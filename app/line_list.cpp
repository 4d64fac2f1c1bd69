#include "app/line_list.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "app/latin1_text.h"
#include "app/list_file.h"
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
    if (!index.isValid() || index.row() >= Count() ||
        (role != Qt::DisplayRole && role != Qt::EditRole))
        return {};
    return FromText(Line(index.row()));
}

Qt::ItemFlags TLineListModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
}

TLineListModel::Span TLineListModel::Pack(std::string_view line) {
    if (line.empty())
        return {kNoBlock, 0, 0};
    if (open_ == kNoBlock ||
        blocks_[open_].bytes.capacity() - blocks_[open_].bytes.size() < line.size()) {
        // Blocks in proportion to the text, so that a short list holds
        // little and a long one few blocks; a long line gets a block of its own size.
        const std::size_t capacity = std::clamp(live_ / 4, kMinBlock, kMaxBlock);
        open_ = NewBlock(std::max(capacity, line.size()));
    }
    Block& block = blocks_[open_];
    const Span span{open_, static_cast<std::uint32_t>(block.bytes.size()),
                    static_cast<std::uint32_t>(line.size())};
    block.bytes.append(line);  // within the capacity: no byte moves
    block.live += line.size();
    stored_ += line.size();
    live_ += line.size();
    return span;
}

std::uint32_t TLineListModel::NewBlock(std::size_t capacity) {
    std::uint32_t index;
    if (!freeBlocks_.empty()) {
        index = freeBlocks_.back();
        freeBlocks_.pop_back();
    } else {
        if (blocks_.size() >= kNoBlock)
            throw std::length_error(kTooMuchText);
        index = static_cast<std::uint32_t>(blocks_.size());
        blocks_.emplace_back();
    }
    blocks_[index].bytes.reserve(capacity);
    return index;
}

void TLineListModel::Release(const Span& span) {
    if (span.length == 0)
        return;
    Block& block = blocks_[span.block];
    block.live -= span.length;
    live_ -= span.length;
    if (block.live > 0)
        return;
    stored_ -= block.bytes.size();
    if (span.block == open_) {
        block.bytes.clear();  // filled again from its start
    } else {
        std::string().swap(block.bytes);
        freeBlocks_.push_back(span.block);
    }
}

void TLineListModel::Insert(int row, const std::vector<std::string_view>& lines) {
    if (lines.empty())
        return;
    row = std::clamp(row, 0, Count());
    if (lines.size() > std::size_t(std::numeric_limits<int>::max() - Count()))
        throw std::length_error(kTooManyLines);
    for (const std::string_view line : lines) {
        if (line.size() > std::numeric_limits<std::uint32_t>::max())
            throw std::length_error(kTooMuchText);
    }
    std::vector<Span> spans;
    spans.reserve(lines.size());
    for (const std::string_view line : lines) spans.push_back(Pack(line));
    if (widthsKnown_) {
        for (const std::string_view line : lines) ++widths_[measure_(line)];
    }
    beginInsertRows({}, row, row + static_cast<int>(spans.size()) - 1);
    spans_.insert(spans_.begin() + row, spans.begin(), spans.end());
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
    endRemoveRows();
    CompactIfWasteful();
}

void TLineListModel::Clear() {
    beginResetModel();
    spans_.clear();
    blocks_.clear();
    freeBlocks_.clear();
    open_ = kNoBlock;
    stored_ = 0;
    live_ = 0;
    widths_.clear();
    widthsKnown_ = bool(measure_);
    endResetModel();
}

void TLineListModel::Replace(std::string content) {
    if (content.size() > std::numeric_limits<std::uint32_t>::max())
        throw std::length_error(kTooMuchText);
    // The old lines go only once the new ones are counted.
    std::deque<Span> spans;
    std::size_t used = 0;
    ForEachListLine(content, [&](std::size_t start, std::size_t length) {
        spans.push_back({0, static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(length)});
        used += length;
    });
    if (spans.size() > std::size_t(std::numeric_limits<int>::max()))
        throw std::length_error(kTooManyLines);
    Clear();
    if (spans.empty())
        return;
    beginInsertRows({}, 0, static_cast<int>(spans.size()) - 1);
    // The text itself is the one block; lines added later open another.
    stored_ = content.size();
    live_ = used;
    blocks_.push_back({std::move(content), used});
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
    Block packed;
    packed.bytes.reserve(live_);
    for (Span& span : spans_) {
        const auto start = static_cast<std::uint32_t>(packed.bytes.size());
        packed.bytes.append(Bytes(span));
        span = {span.length == 0 ? kNoBlock : 0, start, span.length};
    }
    packed.live = live_;
    blocks_.clear();
    freeBlocks_.clear();
    stored_ = live_;
    // Full to its capacity as a rule; the next line opens a block.
    open_ = kNoBlock;
    blocks_.push_back(std::move(packed));
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
    selectionModel()->setCurrentIndex(model_->index(row, 0), command);
}

bool TLineList::isRowSelected(int row) const {
    return selectionModel()->isSelected(model_->index(row, 0));
}

QList<int> TLineList::selectedRows() const {
    QList<int> rows;
    for (const QModelIndex& index : selectionModel()->selectedIndexes())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

}  // namespace tarvik
