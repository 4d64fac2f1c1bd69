#include "app/log_search.h"

#include <algorithm>
#include <functional>

namespace tarvik {

TLogSearch::TLogSearch(const QString& pattern, bool regularExpression)
    : empty_(pattern.isEmpty()), regex_(regularExpression), pattern_(pattern) {
    for (int c = 0; c < 256; ++c) {
        const QChar folded = QChar(c).toCaseFolded();
        fold_[std::size_t(c)] = folded.unicode() < 256 ? static_cast<unsigned char>(folded.unicode())
                                                       : static_cast<unsigned char>(c);
    }
    if (empty_)
        return;
    if (regex_) {
        expression_ = QRegularExpression(pattern, QRegularExpression::CaseInsensitiveOption);
        if (!expression_.isValid()) {
            throw ELogSearch("Not a regular expression: " + expression_.errorString().toStdString() +
                             " at " + std::to_string(expression_.patternErrorOffset() + 1));
        }
        expression_.optimize();
        return;
    }
    for (const QChar c : pattern) {
        if (c.unicode() > 0xFF)
            impossible_ = true;
        else
            folded_ += static_cast<char>(fold_[c.unicode()]);
    }
}

bool TLogSearch::Matches(std::string_view line) const {
    if (empty_ || impossible_)
        return false;
    if (regex_) {
        wide_.resize(line.size());
        for (std::size_t i = 0; i < line.size(); ++i)
            wide_[i] = static_cast<unsigned char>(line[i]);
        return expression_.match(QStringView(wide_.data(), qsizetype(wide_.size()))).hasMatch();
    }
    const auto& fold = fold_;
    const auto same = [&fold](char a, char b) {
        return fold[static_cast<unsigned char>(a)] == static_cast<unsigned char>(b);
    };
    return std::search(line.begin(), line.end(), folded_.begin(), folded_.end(), same) !=
           line.end();
}

std::vector<std::pair<qsizetype, qsizetype>> TLogSearch::Find(const QString& shown) const {
    std::vector<std::pair<qsizetype, qsizetype>> found;
    if (empty_ || impossible_)
        return found;
    if (regex_) {
        auto matches = expression_.globalMatch(shown);
        while (matches.hasNext()) {
            const QRegularExpressionMatch match = matches.next();
            if (match.capturedLength() > 0)
                found.emplace_back(match.capturedStart(), match.capturedLength());
        }
        return found;
    }
    for (qsizetype at = shown.indexOf(pattern_, 0, Qt::CaseInsensitive); at >= 0;
         at = shown.indexOf(pattern_, at + pattern_.size(), Qt::CaseInsensitive))
        found.emplace_back(at, pattern_.size());
    return found;
}

}  // namespace tarvik
