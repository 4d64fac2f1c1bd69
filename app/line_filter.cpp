#include "app/line_filter.h"

#include <algorithm>

namespace tarvik {

void TRowSet::Rebuild(const TLineListModel& lines, Test test) {
    test_ = std::move(test);
    rows_.clear();
    for (int row = 0; row < lines.Count(); ++row) {
        if (test_(row))
            rows_.push_back(row);
    }
}

int TRowSet::LowerBound(int row) const {
    return static_cast<int>(std::lower_bound(rows_.begin(), rows_.end(), row) - rows_.begin());
}

std::vector<int> TRowSet::Passing(int first, int last) const {
    std::vector<int> passing;
    for (int row = first; row <= last; ++row) {
        if (test_(row))
            passing.push_back(row);
    }
    return passing;
}

void TRowSet::Inserted(int first, int last, const std::vector<int>& passing) {
    const int count = last - first + 1;
    const int at = LowerBound(first);
    for (auto row = rows_.begin() + at; row != rows_.end(); ++row) *row += count;
    rows_.insert(rows_.begin() + at, passing.begin(), passing.end());
}

std::pair<int, int> TRowSet::Removed(int first, int last) {
    const int count = last - first + 1;
    const int from = LowerBound(first);
    const int to = LowerBound(last + 1);
    rows_.erase(rows_.begin() + from, rows_.begin() + to);
    for (auto row = rows_.begin() + from; row != rows_.end(); ++row) *row -= count;
    return {from, to - from};
}

TLineFilterModel::TLineFilterModel(TLineListModel* lines, QObject* parent)
    : QAbstractListModel(parent), lines_(lines) {
    SetTest({});
    // The test of a new line is made after it is in the list (rowsInserted);
    // the rows that go are found before they go (rowsAboutToBeRemoved).
    connect(lines_, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) {
                const std::vector<int> passing = shown_.Passing(first, last);
                const int at = shown_.LowerBound(first);
                const int count = static_cast<int>(passing.size());
                if (count > 0)
                    beginInsertRows({}, at, at + count - 1);
                shown_.Inserted(first, last, passing);
                if (count > 0)
                    endInsertRows();
            });
    connect(lines_, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex&, int first, int last) {
                const int from = shown_.LowerBound(first);
                const int to = shown_.LowerBound(last + 1);
                if (to > from)
                    beginRemoveRows({}, from, to - 1);
                shown_.Removed(first, last);
                if (to > from)
                    endRemoveRows();
            });
    connect(lines_, &QAbstractItemModel::modelReset, this, [this] { SetTest(test_); });
}

void TLineFilterModel::SetTest(TRowSet::Test test) {
    beginResetModel();
    test_ = std::move(test);
    shown_.Rebuild(*lines_, test_ ? test_ : [](int) { return true; });
    endResetModel();
}

int TLineFilterModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : shown_.Size();
}

QVariant TLineFilterModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= shown_.Size())
        return {};
    return lines_->data(lines_->index(SourceRow(index.row()), 0), role);
}

Qt::ItemFlags TLineFilterModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
}

int TLineFilterModel::RowOf(int sourceRow) const {
    const int at = shown_.LowerBound(sourceRow);
    return at < shown_.Size() && shown_.Rows()[std::size_t(at)] == sourceRow ? at : -1;
}

}  // namespace tarvik
