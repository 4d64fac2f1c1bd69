#pragma once
// TFindBar: finds text in one receive log and filters it. It sits below the
// log it works on (Ctrl+F opens it there): plain text or a regular
// expression over the line as shown, every match highlighted, the next and
// previous matching line (F3, Shift+F3, Enter), a count, and filters that
// show only the matching lines, only bad lines or only sent blocks. The log
// keeps its lines; closing the bar (Esc) shows them all again and takes the
// highlight away. Main thread only; owned by the window.

#include <QPointer>
#include <QWidget>

#include "app/line_filter.h"
#include "app/log_search.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tarvik {

class TLineList;

class TFindBar : public QWidget {
    Q_OBJECT

  public:
    explicit TFindBar(QWidget* parent);

    // Works on `log` from now on (the one before is shown whole again) and
    // takes the focus into the text. `bad`, `sent`: whether the quick
    // filters have marks to go by.
    void Open(TLineList* log, bool bad, bool sent);
    // Shows the log whole again, without highlight, and hides the bar.
    void Close();
    TLineList* Log() const { return log_; }

    // The next matching line below the current one (older), the previous
    // one above it; both go round at the end. Nothing without a match.
    void Next();
    void Previous();

    // How many lines match (the count shown).
    int MatchCount() const { return matches_.Size(); }

    QLineEdit* Text() const { return text_; }
    QCheckBox* RegularExpression() const { return regex_; }
    QCheckBox* OnlyMatching() const { return onlyMatching_; }
    QCheckBox* OnlyBad() const { return onlyBad_; }
    QCheckBox* OnlySent() const { return onlySent_; }
    QLabel* Count() const { return count_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // The text or a filter changed: search the log again.
    void Search();
    void ApplyFilter();
    void ShowCount();
    void Detach();
    void Step(bool forward);

    QLineEdit* text_;
    QCheckBox* regex_;
    QPushButton* previous_;
    QPushButton* next_;
    QLabel* count_;
    QCheckBox* onlyMatching_;
    QCheckBox* onlyBad_;
    QCheckBox* onlySent_;
    QPushButton* close_;

    QPointer<TLineList> log_;
    TLogSearch search_;
    QString error_;     // why the text is no regular expression
    TRowSet matches_;   // the matching lines, kept up as lines come and go
    QList<QMetaObject::Connection> follow_;
};

}  // namespace tarvik
