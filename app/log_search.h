#pragma once
// What the find bar looks for in a log's lines: plain text, case ignored, or
// a regular expression (case ignored as well), over the line as it is shown.
// A line is 8-bit text; plain text is found in its bytes without making a
// QString of it, so that a million lines are searched in a few tens of ms.
// An expression tests each line with the regular expression library Qt
// itself uses, compiled alike, but with one matching space for all lines:
// QRegularExpression makes and frees its own for every line, which was most
// of the time of an expression that matches every line of a million.
// Values; any thread, one object per thread.

#include <QRegularExpression>
#include <QString>
#include <array>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvik {

// A regular expression that cannot be compiled; the message says where.
class ELogSearch : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class TLogSearch {
  public:
    // Finds nothing.
    TLogSearch() = default;
    // Raises ELogSearch for a regular expression with a fault.
    TLogSearch(const QString& pattern, bool regularExpression);

    bool Empty() const { return empty_; }
    bool Matches(std::string_view line) const;
    // Where the matches lie in a line as shown (start, length), in order.
    std::vector<std::pair<qsizetype, qsizetype>> Find(const QString& shown) const;

  private:
    bool empty_ = true;
    bool regex_ = false;
    bool impossible_ = false;  // plain text with a character no 8-bit line holds
    std::string folded_;       // plain text, each byte folded
    std::array<unsigned char, 256> fold_{};
    QString pattern_;
    QRegularExpression expression_;
    mutable std::u16string wide_;  // a line widened for the expression
    struct Compiled;  // the expression as Matches tests lines with it
    std::shared_ptr<const Compiled> compiled_;
    // Matching space, one per object: a copy makes its own when it first matches.
    struct Space {
        std::shared_ptr<void> data;
        Space() = default;
        Space(const Space&) {}
        Space& operator=(const Space&) {
            data.reset();
            return *this;
        }
    };
    mutable Space space_;
};

}  // namespace tarvik
