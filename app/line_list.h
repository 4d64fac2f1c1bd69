#pragma once
// TLineList: the window's lists (the send history, the receive logs and the
// hidden clipboard), a list view over TLineListModel.
//
// A QListWidget item costs some 340 bytes and a microsecond to make and lay
// out, so a loaded file of a million short lines took 30 times its size and
// froze the window for seconds. Here the lines are 8-bit texts packed into
// byte blocks, each line a start and a length; every row has the same
// height, so the view lays out no row on its own, and a load or a batch of
// arrivals is one model change. The member functions read like the parts of
// QListWidget the window uses, with rows in place of items.
// Main thread only; the model is owned by its list, the list by its parent.

#include <QAbstractListModel>
#include <QItemSelectionModel>
#include <QListView>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "codec/line_kind.h"
#include "base/text.h"

namespace tarvik {

// The bytes a line was made from and where the line shows them: its text
// from `at` on, `length` characters, is their display. A line that keeps
// them can be shown again in another form. Empty bytes: none kept.
struct TShownBytes {
    std::string_view bytes;
    std::size_t at = 0;
    std::size_t length = 0;
};

class TLineListModel : public QAbstractListModel {
    Q_OBJECT

  public:
    // The lines' starts are 32-bit addresses; a test gives fewer to reach
    // their reuse without passing gigabytes through.
    static constexpr std::uint64_t kAddresses = std::uint64_t(1) << 32;
    explicit TLineListModel(QObject* parent = nullptr, std::uint64_t addresses = kAddresses)
        : QAbstractListModel(parent), addresses_(addresses) {}

    int rowCount(const QModelIndex& parent = {}) const override;
    // The base class checks a row through the virtual rowCount and
    // columnCount; the view asks every row's index at each layout.
    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override {
        return row >= 0 && row < Count() && column == 0 && !parent.isValid() ? createIndex(row, column)
                                                                             : QModelIndex();
    }
    // The line as window text (Latin-1) for the display and edit roles; its
    // kind (TLineKind as an int) for kKindRole.
    static constexpr int kKindRole = Qt::UserRole;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    int Count() const { return static_cast<int>(spans_.size()); }
    // The bytes of a line; valid until the next change of the model.
    std::string_view Line(int row) const { return Bytes(spans_[static_cast<std::size_t>(row)]); }

    TLineKind Kind(int row) const { return kinds_[static_cast<std::size_t>(row)]; }
    // Lines with a check's verdict: while there are any, the view marks them.
    int VerdictLines() const { return verdictLines_; }

    // Inserts the lines before `row` (Count() appends), in their order, as
    // one insertion. The lines may be this model's own. `kinds`: one per
    // line, or empty for plain lines; `shown`: one per line, or empty for
    // lines that keep no bytes.
    void Insert(int row, const std::vector<std::string_view>& lines,
                const std::vector<TLineKind>& kinds = {},
                const std::vector<TShownBytes>& shown = {});
    // Removes `count` lines from `row` on, as one removal.
    void Remove(int row, int count);
    void Clear();
    // Replaces every line with the lines of `content`, a list file's text
    // (base/list_file.h), as one insertion; the text itself becomes the buffer.
    void Replace(std::string content);

    // Lines that keep their bytes.
    int LinesWithBytes() const;
    // The bytes a line keeps; empty for none.
    std::string_view BytesOf(int row) const;
    // Shows every line that keeps its bytes in the form `display` gives
    // them, the rest of its text as it was; the lines that keep none stay.
    // One reset of the model, and only if any line changes.
    using Display = std::function<std::string(std::string_view bytes)>;
    void Reshow(const Display& display);

    // The width of the widest line as `measure` gives it, kept up as lines
    // come and go. A new `measure` (another font) is set with SetMeasure.
    using Measure = std::function<int(std::string_view)>;
    void SetMeasure(Measure measure) const;
    bool HasMeasure() const { return bool(measure_); }
    int Widest() const;

  private:
    // A line is a start and a length in one 32-bit address space over the
    // blocks: 8 bytes a line, where a block number would make it 12 (4 MB
    // more for a loaded file of a million lines).
    struct Span {
        std::uint32_t start;
        std::uint32_t length;
    };
    // Lines are appended to a block only within its capacity, so a block's
    // bytes never move while lines point into them. A receive log takes
    // lines in at the top and drops the oldest at the bottom: the oldest
    // block empties and goes, and no byte is ever copied again, where one
    // growing buffer was reallocated and compacted over the whole log's
    // text (tens of MB of long lines, a stall of the window each time).
    struct Block {
        std::string bytes;
        std::uint32_t base = 0;  // the address of its first byte
        std::size_t extent = 0;  // its addresses, and its bytes at most
        std::size_t live = 0;    // bytes of the lines still in the list
    };
    // The block of a (non-empty) line's start.
    std::uint32_t BlockOf(std::uint32_t start) const;
    // An empty line lies in no block.
    std::string_view Bytes(const Span& span) const {
        if (span.length == 0)
            return {};
        const Block& block = blocks_[BlockOf(span.start)];
        return {block.bytes.data() + (span.start - block.base), span.length};
    }
    // Appends the line's bytes to the open block, or to a new one once the
    // open block is full, and its span to `packed`; the line may be this
    // model's own.
    void Pack(std::string_view line, std::vector<Span>& packed);
    void OpenBlock(std::size_t extent, std::vector<Span>& packed);
    // Gives back a removed line's bytes; an emptied block goes.
    void Release(const Span& span);
    void Drop(std::uint32_t block);
    // Gives the blocks addresses one after another from 0 again, so that
    // the addresses of blocks gone are used anew; no byte moves. The lines'
    // spans and those in `packed` follow.
    void Renumber(std::vector<Span>& packed);
    void DropAll();
    // Makes `bytes` the one block, holding `live` bytes of lines.
    void Adopt(std::string bytes, std::size_t live);
    // Packs the lines afresh once dead bytes are the larger part of the blocks.
    void CompactIfWasteful();
    void Compact();

    static constexpr std::uint32_t kNoBlock = 0xFFFFFFFF;
    // A deque: references to a block stay valid while blocks are added.
    std::deque<Block> blocks_;
    std::vector<std::uint32_t> freeBlocks_;  // emptied entries of blocks_, for reuse
    std::vector<std::uint32_t> byBase_;      // the blocks in use, by address
    std::uint64_t addresses_;
    std::uint64_t nextBase_ = 0;     // the address after the last block's
    std::uint32_t open_ = kNoBlock;  // the block lines are appended to
    std::size_t stored_ = 0;         // bytes in all blocks, live or dead
    std::size_t live_ = 0;           // bytes of the lines
    // A deque: the receive log inserts at the top for every arrival.
    std::deque<Span> spans_;
    std::deque<TLineKind> kinds_;  // one per span
    // The bytes lines keep. A log takes them in at its top, so only the
    // rows above the last line with bytes have an entry (none for a loaded
    // file): rows from sources_.size() on keep none.
    struct Source {
        Span bytes;  // {0, 0}: none
        std::uint32_t at;
        std::uint32_t length;
    };
    std::deque<Source> sources_;
    // Drops the entries of rows without bytes at the end of sources_.
    void TrimSources();
    int verdictLines_ = 0;
    mutable Measure measure_;
    // How many lines have each width, once known: the widest is the last
    // key, and a line going costs no look at the others.
    mutable std::map<int, int> widths_;
    mutable bool widthsKnown_ = false;
};

class TLineFilterModel;

// The lines' model and row behind an index of a TLineList's view, filtered
// or not; null for another model.
std::pair<const TLineListModel*, int> LineOf(const QModelIndex& index);

class TLineList : public QListView {
    Q_OBJECT

  public:
    explicit TLineList(QWidget* parent = nullptr);

    TLineListModel* Lines() const { return model_; }

    int count() const { return model_->Count(); }
    QString text(int row) const;
    void clear() { model_->Clear(); }
    void addItem(const QString& line) { insertItem(count(), line); }
    void addItems(const QStringList& lines);
    void insertItem(int row, const QString& line);
    void removeRow(int row) { model_->Remove(row, 1); }

    // Rows below are the lines' rows, filtered or not.
    // The current (focused) line, -1 for none.
    int currentRow() const { return SourceRow(currentIndex()); }
    void setCurrentRow(
        int row, QItemSelectionModel::SelectionFlags command = QItemSelectionModel::ClearAndSelect);
    bool isRowSelected(int row) const;
    // The selected rows, top to bottom.
    QList<int> selectedRows() const;
    QRect visualRowRect(int row) const { return visualRect(ViewIndex(row)); }

    // Shows only the lines that pass `test` (a row of Lines()); all of them
    // again with none. The lines stay in the list either way.
    void SetFilter(std::function<bool(int row)> test);
    bool Filtered() const { return filter_ != nullptr; }
    // The view's index of a line; invalid while the filter hides it.
    QModelIndex ViewIndex(int row) const;
    int SourceRow(const QModelIndex& index) const;

    // Shows the lines that keep their bytes in the form `display` gives
    // (TLineListModel::Reshow); the selection, the current line and the
    // place scrolled to stay.
    void Reshow(const TLineListModel::Display& display);

    // The selected lines as the desktop takes text: in order, one a line,
    // each as it is shown (timestamp and marks with it).
    QString SelectedText() const;
    // Puts SelectedText() on the system clipboard; nothing selected leaves it.
    void CopyToClipboard() const;

    // After lines came in at the top (and left at the bottom), the rows
    // drawn already move down and only the new ones are drawn: the view
    // would otherwise draw every visible row again for each arrival.
    void doItemsLayout() override;

  protected:
    bool event(QEvent* event) override;
    // Ctrl+C copies every selected line, not just the current one; Ctrl+A
    // selects all lines where several may be selected.
    void keyPressEvent(QKeyEvent* event) override;
    void rowsInserted(const QModelIndex& parent, int start, int end) override;
    void rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) override;

  private:
    TLineListModel* model_;
    TLineFilterModel* filter_ = nullptr;
    // What decides whether drawn rows may move instead of being drawn anew:
    // anything of it changed by the layout, and all is drawn again.
    struct Shape {
        int top = 0;
        int left = 0;
        int widest = 0;
        bool marks = false;
        QSize viewport;
        bool operator==(const Shape&) const = default;
    };
    Shape CurrentShape() const;
    // Rows taken in at the top since the last layout; -1 after any other
    // change of the lines, which then are all drawn again.
    int shift_ = 0;
    Shape before_;
    void NoteChange(int rowsAtTop);
};

}  // namespace tarvik
