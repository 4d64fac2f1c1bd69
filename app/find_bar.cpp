#include "app/find_bar.h"

#include <QCheckBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <memory>

#include "app/line_list.h"
#include "app/log_item_delegate.h"

namespace tarvik {

namespace {

bool IsBadKind(TLineKind kind) {
    return kind == TLineKind::Bad || kind == TLineKind::TooShort;
}

}  // namespace

TFindBar::TFindBar(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("FindBar"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(2, 2, 2, 2);
    row->setSpacing(4);
    text_ = new QLineEdit(this);
    text_->setObjectName(QStringLiteral("FindText"));
    text_->setPlaceholderText(QStringLiteral("Find"));
    text_->setClearButtonEnabled(true);
    regex_ = new QCheckBox(QStringLiteral("Regex"), this);
    regex_->setToolTip(QStringLiteral("A regular expression; case is ignored either way"));
    previous_ = new QPushButton(QStringLiteral("Previous"), this);
    previous_->setToolTip(QStringLiteral("The matching line above (Shift+F3)"));
    next_ = new QPushButton(QStringLiteral("Next"), this);
    next_->setToolTip(QStringLiteral("The matching line below (F3, Enter)"));
    count_ = new QLabel(this);
    count_->setObjectName(QStringLiteral("FindCount"));
    count_->setMinimumWidth(90);
    onlyMatching_ = new QCheckBox(QStringLiteral("Only matching lines"), this);
    onlyBad_ = new QCheckBox(QStringLiteral("Only bad"), this);
    onlyBad_->setToolTip(QStringLiteral("Only lines whose check failed or that were too short"));
    onlySent_ = new QCheckBox(QStringLiteral("Only sent"), this);
    onlySent_->setToolTip(QStringLiteral("Only the sent blocks (\">> \")"));
    close_ = new QPushButton(QStringLiteral("Close"), this);
    close_->setToolTip(QStringLiteral("Show every line again (Esc)"));
    for (QWidget* button : {static_cast<QWidget*>(previous_), static_cast<QWidget*>(next_),
                            static_cast<QWidget*>(close_)})
        button->setFocusPolicy(Qt::NoFocus);
    for (QWidget* widget :
         {static_cast<QWidget*>(text_), static_cast<QWidget*>(regex_),
          static_cast<QWidget*>(previous_), static_cast<QWidget*>(next_),
          static_cast<QWidget*>(count_), static_cast<QWidget*>(onlyMatching_),
          static_cast<QWidget*>(onlyBad_), static_cast<QWidget*>(onlySent_),
          static_cast<QWidget*>(close_)})
        row->addWidget(widget);
    row->setStretchFactor(text_, 1);

    connect(text_, &QLineEdit::textChanged, this, [this] { Search(); });
    connect(text_, &QLineEdit::returnPressed, this, [this] { Next(); });
    connect(regex_, &QCheckBox::toggled, this, [this] { Search(); });
    connect(onlyMatching_, &QCheckBox::toggled, this, [this] { ApplyFilter(); });
    connect(onlyBad_, &QCheckBox::toggled, this, [this] { ApplyFilter(); });
    connect(onlySent_, &QCheckBox::toggled, this, [this] { ApplyFilter(); });
    connect(previous_, &QPushButton::clicked, this, [this] { Previous(); });
    connect(next_, &QPushButton::clicked, this, [this] { Next(); });
    connect(close_, &QPushButton::clicked, this, [this] { Close(); });
    // Esc closes the bar before the window's Stop sees it.
    text_->installEventFilter(this);
    hide();
}

bool TFindBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == text_ &&
        (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress)) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier) {
            event->accept();
            if (event->type() == QEvent::KeyPress)
                Close();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TFindBar::Open(TLineList* log, bool bad, bool sent) {
    if (log != log_) {
        Detach();
        log_ = log;
        // Below the log, in its page.
        if (auto* layout = qobject_cast<QVBoxLayout*>(log->parentWidget()->layout())) {
            setParent(log->parentWidget());
            layout->addWidget(this);
        }
        const auto changed = [this] {
            ShowCount();
        };
        TLineListModel* lines = log->Lines();
        follow_ << connect(lines, &QAbstractItemModel::rowsInserted, this,
                           [this, changed](const QModelIndex&, int first, int last) {
                               matches_.Inserted(first, last, matches_.Passing(first, last));
                               changed();
                           });
        follow_ << connect(lines, &QAbstractItemModel::rowsAboutToBeRemoved, this,
                           [this](const QModelIndex&, int first, int last) {
                               matches_.Removed(first, last);
                           });
        follow_ << connect(lines, &QAbstractItemModel::rowsRemoved, this, changed);
        follow_ << connect(lines, &QAbstractItemModel::modelReset, this, [this] { Search(); });
    }
    onlyBad_->setEnabled(bad);
    onlySent_->setEnabled(sent);
    if (!bad)
        onlyBad_->setChecked(false);
    if (!sent)
        onlySent_->setChecked(false);
    show();
    text_->setFocus(Qt::ShortcutFocusReason);
    text_->selectAll();
    Search();
}

void TFindBar::Detach() {
    for (const auto& connection : follow_) disconnect(connection);
    follow_.clear();
    if (log_ != nullptr) {
        log_->SetFilter({});
        if (auto* delegate = qobject_cast<TLogItemDelegate*>(log_->itemDelegate()))
            delegate->SetHighlight({});
        log_->viewport()->update();
    }
    log_ = nullptr;
}

void TFindBar::Close() {
    TLineList* log = log_;
    Detach();
    hide();
    if (log != nullptr)
        log->setFocus(Qt::OtherFocusReason);
}

void TFindBar::Search() {
    if (log_ == nullptr)
        return;
    error_.clear();
    try {
        search_ = TLogSearch(text_->text(), regex_->isChecked());
    } catch (const ELogSearch& error) {
        search_ = TLogSearch();
        error_ = QString::fromStdString(error.what());
    }
    const TLineListModel* lines = log_->Lines();
    matches_.Rebuild(*lines, [lines, search = std::make_shared<TLogSearch>(search_)](int row) {
        return search->Matches(lines->Line(row));
    });
    if (auto* delegate = qobject_cast<TLogItemDelegate*>(log_->itemDelegate())) {
        if (search_.Empty()) {
            delegate->SetHighlight({});
        } else {
            delegate->SetHighlight([search = std::make_shared<TLogSearch>(search_)](
                                       const QString& shown) { return search->Find(shown); });
        }
    }
    log_->viewport()->update();
    ApplyFilter();
}

void TFindBar::ApplyFilter() {
    if (log_ == nullptr)
        return;
    const bool byText = onlyMatching_->isChecked();
    const bool bad = onlyBad_->isChecked();
    const bool sent = onlySent_->isChecked();
    if (!byText && !bad && !sent) {
        log_->SetFilter({});
    } else {
        const TLineListModel* lines = log_->Lines();
        const auto search = std::make_shared<TLogSearch>(search_);
        log_->SetFilter([lines, search, byText, bad, sent](int row) {
            if (bad || sent) {
                const TLineKind kind = lines->Kind(row);
                if (!((bad && IsBadKind(kind)) || (sent && kind == TLineKind::Sent)))
                    return false;
            }
            return !byText || search->Matches(lines->Line(row));
        });
    }
    ShowCount();
}

void TFindBar::ShowCount() {
    if (!error_.isEmpty()) {
        count_->setText(error_);
        return;
    }
    if (search_.Empty()) {
        count_->clear();
        return;
    }
    const int total = matches_.Size();
    if (total == 0) {
        count_->setText(QStringLiteral("no match"));
        return;
    }
    const int current = log_ != nullptr ? log_->currentRow() : -1;
    const int at = matches_.LowerBound(current);
    if (current >= 0 && at < total && matches_.Rows()[std::size_t(at)] == current)
        count_->setText(QStringLiteral("%1 of %2").arg(at + 1).arg(total));
    else
        count_->setText(QStringLiteral("%1 matching").arg(total));
}

void TFindBar::Next() {
    Step(true);
}

void TFindBar::Previous() {
    Step(false);
}

void TFindBar::Step(bool forward) {
    if (log_ == nullptr || matches_.Size() == 0)
        return;
    const std::vector<int>& rows = matches_.Rows();
    const int current = log_->currentRow();
    int target;
    if (forward) {
        const auto after = std::upper_bound(rows.begin(), rows.end(), current);
        target = after != rows.end() ? *after : rows.front();
    } else {
        const auto before = std::lower_bound(rows.begin(), rows.end(), current);
        target = current >= 0 && before != rows.begin() ? *(before - 1) : rows.back();
    }
    // A line the filter hides (a bad-only view of a match that is good) is
    // shown by taking the filter away.
    if (!log_->ViewIndex(target).isValid()) {
        onlyBad_->setChecked(false);
        onlySent_->setChecked(false);
    }
    log_->setCurrentRow(target);
    log_->scrollTo(log_->ViewIndex(target), QAbstractItemView::PositionAtCenter);
    ShowCount();
}

}  // namespace tarvik
