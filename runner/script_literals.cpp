#include "runner/script_literals.h"

#include <cctype>
#include <optional>

#include "codec/check_value.h"
#include "runner/pattern.h"

namespace tarvik::runner {

namespace {

bool IsWordChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

class Scanner {
  public:
    explicit Scanner(std::string_view source) : s_(source) {}

    bool AtEnd() const { return at_ >= s_.size(); }
    std::size_t Line() const { return line_; }
    std::size_t Position() const { return at_; }

    void Advance(std::size_t n = 1) {
        for (; n > 0 && at_ < s_.size(); --n)
            line_ += s_[at_++] == '\n' ? 1 : 0;
    }

    void SkipBlanks() {
        while (!AtEnd() && std::isspace(static_cast<unsigned char>(s_[at_])) != 0) Advance();
    }

    bool StartsWith(std::string_view text) const { return s_.substr(at_).starts_with(text); }

    // The level of a long bracket "[==[" here (its '=' count), or none.
    std::optional<std::size_t> LongBracketLevel() const {
        if (!StartsWith("["))
            return std::nullopt;
        std::size_t i = at_ + 1;
        while (i < s_.size() && s_[i] == '=') ++i;
        if (i < s_.size() && s_[i] == '[')
            return i - at_ - 1;
        return std::nullopt;
    }

    // Skips a comment, a string or one other character; a string's body is
    // given back when asked for and it is one this check reads.
    void SkipToken() {
        if (StartsWith("--")) {
            Advance(2);
            if (const auto level = LongBracketLevel()) {
                LongString(*level);
            } else {
                while (!AtEnd() && s_[at_] != '\n') Advance();
            }
            return;
        }
        if (!AtEnd() && (s_[at_] == '"' || s_[at_] == '\'' || LongBracketLevel())) {
            String();
            return;
        }
        Advance();
    }

    // A string literal here: its text, or none for one whose escapes this
    // check does not read (it is then checked when it runs). Not a string: none.
    std::optional<std::string> String() {
        if (const auto level = LongBracketLevel())
            return LongString(*level);
        if (AtEnd() || (s_[at_] != '"' && s_[at_] != '\''))
            return std::nullopt;
        const char quote = s_[at_];
        Advance();
        std::string text;
        bool readable = true;
        while (!AtEnd() && s_[at_] != quote && s_[at_] != '\n') {
            if (s_[at_] != '\\') {
                text += s_[at_];
                Advance();
                continue;
            }
            Advance();
            if (AtEnd())
                break;
            switch (s_[at_]) {
                case '\\': text += '\\'; break;
                case '"': text += '"'; break;
                case '\'': text += '\''; break;
                case 'n': text += '\n'; break;
                case 'r': text += '\r'; break;
                case 't': text += '\t'; break;
                default: readable = false;
            }
            Advance();
        }
        Advance();  // the closing quote
        if (!readable)
            return std::nullopt;
        return text;
    }

    // A word here (letters, digits, '_'), or "".
    std::string_view Word() const {
        std::size_t end = at_;
        while (end < s_.size() && IsWordChar(s_[end])) ++end;
        return s_.substr(at_, end - at_);
    }

    bool PrecededByWordChar() const { return at_ > 0 && IsWordChar(s_[at_ - 1]); }

  private:
    std::string LongString(std::size_t level) {
        Advance(level + 2);
        // Lua drops a newline right after the opening bracket.
        if (StartsWith("\n"))
            Advance();
        std::string close(level + 2, '=');
        close.front() = ']';
        close.back() = ']';
        const std::size_t end = s_.find(close, at_);
        const std::size_t stop = end == std::string_view::npos ? s_.size() : end;
        std::string text(s_.substr(at_, stop - at_));
        Advance(stop - at_ + close.size());
        return text;
    }

    std::string_view s_;
    std::size_t at_ = 0;
    std::size_t line_ = 1;
};

// expect's options: the literal after "check =" in the table, if any. The
// scanner stands on '{' and is left after the matching '}'.
std::optional<std::string> CheckOption(Scanner& scan) {
    std::optional<std::string> check;
    int depth = 0;
    while (!scan.AtEnd()) {
        if (scan.StartsWith("{")) {
            ++depth;
            scan.Advance();
        } else if (scan.StartsWith("}")) {
            scan.Advance();
            if (--depth == 0)
                break;
        } else if (depth == 1 && !scan.PrecededByWordChar() && scan.Word() == "check") {
            scan.Advance(5);
            scan.SkipBlanks();
            if (scan.StartsWith("=") && !scan.StartsWith("==")) {
                scan.Advance();
                scan.SkipBlanks();
                if (auto name = scan.String(); name && !check)
                    check = std::move(name);
            }
        } else {
            scan.SkipToken();
        }
    }
    return check;
}

}  // namespace

void CheckScriptLiterals(const std::string& fileName, std::string_view source) {
    Scanner scan(source);
    while (!scan.AtEnd()) {
        const std::string_view word = scan.PrecededByWordChar() ? "" : scan.Word();
        if (word != "send" && word != "expect") {
            if (word.empty())
                scan.SkipToken();
            else
                scan.Advance(word.size());
            continue;
        }
        const std::size_t line = scan.Line();
        scan.Advance(word.size());
        scan.SkipBlanks();
        if (!scan.StartsWith("("))
            continue;
        scan.Advance();
        scan.SkipBlanks();
        const std::optional<std::string> text = scan.String();
        if (!text)
            continue;
        scan.SkipBlanks();
        // Only a literal that is the whole argument ('a' .. b is not).
        if (!scan.StartsWith(")") && !scan.StartsWith(","))
            continue;
        std::optional<std::string> check;
        if (scan.StartsWith(",")) {
            scan.Advance();
            scan.SkipBlanks();
            if (word == "expect" && scan.StartsWith("{")) {
                check = CheckOption(scan);
            } else if (word == "send") {
                check = scan.String();
                scan.SkipBlanks();
                if (!scan.StartsWith(")"))
                    check.reset();  // an expression that only starts with a literal
            }
        }
        try {
            if (word == "send")
                fun::EncodeLine(*text);
            else
                ParsePattern(*text);
            if (check)
                CheckValueNamed(*check);
        } catch (const std::exception& error) {
            throw std::runtime_error(fileName + ":" + std::to_string(line) + ": " + error.what());
        }
    }
}

}  // namespace tarvik::runner
