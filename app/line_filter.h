#pragma once
// The rows of a line list that pass a test, kept up as lines come and go
// (TRowSet), and a model that shows only those rows of a TLineListModel
// (TLineFilterModel). The list keeps all its lines; the filter only hides.
// A receive log takes lines at its top and drops them at its bottom, so a
// change costs the new lines' tests and one shift of the rows kept, not a
// search of the whole log. Main thread only.

#include <QAbstractListModel>
#include <functional>
#include <utility>
#include <vector>

#include "app/line_list.h"

namespace tarvik {

class TRowSet {
  public:
    using Test = std::function<bool(int row)>;

    // Every row of `lines` that passes `test`, in order.
    void Rebuild(const TLineListModel& lines, Test test);
    // Of the source rows first..last, those that pass.
    std::vector<int> Passing(int first, int last) const;
    // Source rows first..last were inserted: the later rows move down, and
    // `passing` (of Passing) is added at LowerBound(first).
    void Inserted(int first, int last, const std::vector<int>& passing);
    // Source rows first..last were removed; gives the positions they held.
    std::pair<int, int> Removed(int first, int last);

    const std::vector<int>& Rows() const { return rows_; }
    int Size() const { return static_cast<int>(rows_.size()); }
    // The position of the first row at or after `row`.
    int LowerBound(int row) const;

  private:
    std::vector<int> rows_;
    Test test_;
};

class TLineFilterModel : public QAbstractListModel {
    Q_OBJECT

  public:
    // Follows `lines` for as long as it lives.
    TLineFilterModel(TLineListModel* lines, QObject* parent);

    // Shows the rows that pass `test` (all with none).
    void SetTest(TRowSet::Test test);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    TLineListModel* Lines() const { return lines_; }
    int SourceRow(int row) const { return shown_.Rows()[static_cast<std::size_t>(row)]; }
    // The row that shows `sourceRow`; -1 when it is hidden.
    int RowOf(int sourceRow) const;

  private:
    TLineListModel* lines_;
    TRowSet shown_;
    TRowSet::Test test_;
};

}  // namespace tarvik
