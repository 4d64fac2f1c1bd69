#include "app/log_search.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <algorithm>
#include <functional>

namespace tarvik {

struct TLogSearch::Compiled {
    pcre2_code* code = nullptr;
    ~Compiled() { pcre2_code_free(code); }
};

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
        // As QRegularExpression compiles it: UTF-16, case ignored.
        int error = 0;
        PCRE2_SIZE offset = 0;
        auto compiled = std::make_shared<Compiled>();
        compiled->code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.utf16()),
                                       PCRE2_SIZE(pattern.size()), PCRE2_UTF | PCRE2_CASELESS,
                                       &error, &offset, nullptr);
        if (compiled->code != nullptr) {
            pcre2_jit_compile(compiled->code, PCRE2_JIT_COMPLETE);  // else interpreted
            compiled_ = std::move(compiled);
        }
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
        const QStringView wide(wide_.data(), qsizetype(wide_.size()));
        if (compiled_ != nullptr) {
            if (space_.data == nullptr) {
                space_.data = std::shared_ptr<void>(
                    pcre2_match_data_create_from_pattern(compiled_->code, nullptr),
                    [](void* data) { pcre2_match_data_free(static_cast<pcre2_match_data*>(data)); });
            }
            // A widened 8-bit line is valid UTF-16: no check needed.
            const int found = pcre2_match(compiled_->code, reinterpret_cast<PCRE2_SPTR>(wide_.data()),
                                          wide_.size(), 0, PCRE2_NO_UTF_CHECK,
                                          static_cast<pcre2_match_data*>(space_.data.get()), nullptr);
            if (found >= 0 || found == PCRE2_ERROR_NOMATCH)
                return found >= 0;
            // A limit of the default stack: QRegularExpression's larger one decides.
        }
        return expression_.match(wide).hasMatch();
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
