#include "app/line_list.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "app/latin1_text.h"
#include "app/list_file.h"
#include "app/log_item_delegate.h"

namespace tarvik {

namespace {

// Unused bytes are dropped only beyond this, so a short list is never copied.
constexpr std::size_t kSmallWaste = std::size_t(1) << 16;

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

std::vector<TLineListModel::Span> TLineListModel::Pack(const std::vector<std::string_view>& lines) {
    std::size_t total = 0;
    for (const std::string_view line : lines) total += line.size();
    // The lines may lie in bytes_ itself, which appending may move.
    std::string added;
    added.reserve(total);
    for (const std::string_view line : lines) added += line;
    if (bytes_.size() + total > std::numeric_limits<std::uint32_t>::max()) {
        Compact();
        if (bytes_.size() + total > std::numeric_limits<std::uint32_t>::max())
            throw std::length_error(kTooMuchText);
    }
    std::vector<Span> spans;
    spans.reserve(lines.size());
    auto start = static_cast<std::uint32_t>(bytes_.size());
    for (const std::string_view line : lines) {
        spans.push_back({start, static_cast<std::uint32_t>(line.size())});
        start += static_cast<std::uint32_t>(line.size());
    }
    bytes_ += added;
    return spans;
}

void TLineListModel::Insert(int row, const std::vector<std::string_view>& lines) {
    if (lines.empty())
        return;
    row = std::clamp(row, 0, Count());
    if (lines.size() > std::size_t(std::numeric_limits<int>::max() - Count()))
        throw std::length_error(kTooManyLines);
    const std::vector<Span> spans = Pack(lines);
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
        unused_ += span->length;
        if (widthsKnown_) {
            const auto width = widths_.find(measure_({bytes_.data() + span->start, span->length}));
            if (width != widths_.end() && --width->second == 0)
                widths_.erase(width);
        }
    }
    spans_.erase(first, last);
    endRemoveRows();
    CompactIfWasteful();
}

void TLineListModel::Clear() {
    beginResetModel();
    spans_.clear();
    bytes_.clear();
    bytes_.shrink_to_fit();
    unused_ = 0;
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
        spans.push_back({static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(length)});
        used += length;
    });
    if (spans.size() > std::size_t(std::numeric_limits<int>::max()))
        throw std::length_error(kTooManyLines);
    Clear();
    if (spans.empty())
        return;
    beginInsertRows({}, 0, static_cast<int>(spans.size()) - 1);
    bytes_ = std::move(content);
    spans_ = std::move(spans);
    unused_ = bytes_.size() - used;
    widthsKnown_ = false;  // measured when the view first asks
    endInsertRows();
    CompactIfWasteful();
}

void TLineListModel::CompactIfWasteful() {
    if (unused_ > kSmallWaste && unused_ > bytes_.size() / 2)
        Compact();
}

void TLineListModel::Compact() {
    std::string packed;
    packed.reserve(bytes_.size() - unused_);
    for (Span& span : spans_) {
        const auto start = static_cast<std::uint32_t>(packed.size());
        packed.append(bytes_, span.start, span.length);
        span.start = start;
    }
    bytes_ = std::move(packed);
    unused_ = 0;
}

void TLineListModel::SetMeasure(Measure measure) const {
    measure_ = std::move(measure);
    widths_.clear();
    widthsKnown_ = false;
}

int TLineListModel::Widest() const {
    if (!widthsKnown_ && measure_) {
        for (const Span& span : spans_)
            ++widths_[measure_({bytes_.data() + span.start, span.length})];
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
