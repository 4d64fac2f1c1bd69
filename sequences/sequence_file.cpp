#include "sequences/sequence_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "codec/check_value.h"
#include "codec/pattern.h"
#include "base/bounded_file.h"

namespace tarvik::sequences {

namespace {

// Longer waits than this are typing errors, not bench timings.
constexpr long kMaxMs = 3'600'000;
constexpr long kMaxRepeat = 1'000'000;
// A set is a page of text; a file far past this is not one.
constexpr std::size_t kMaxSetBytes = 4u << 20;

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

class Parser {
  public:
    Parser(const std::string& fileName) : fileName_(fileName) {}

    SequenceSet Parse(std::string_view text) {
        for (std::size_t start = 0; start <= text.size();) {
            std::size_t end = text.find('\n', start);
            if (end == std::string_view::npos)
                end = text.size();
            ++line_;
            Line(Trim(text.substr(start, end - start)));
            start = end + 1;
        }
        EndSection();
        // Answers may name sends further down the file.
        for (std::size_t i = 0; i < set_.rules.size(); ++i) {
            const ReceiveRule& rule = set_.rules[i];
            if (!rule.answer.empty() && set_.FindSend(rule.answer) == nullptr)
                Refuse(answerLines_[i], "rule '" + rule.name + "' answers with '" + rule.answer +
                                            "', which is no send sequence here");
        }
        return std::move(set_);
    }

  private:
    enum class Section { None, Send, Rule };

    [[noreturn]] void Refuse(int line, const std::string& reason) const {
        throw ESequenceFile(fileName_ + ":" + std::to_string(line) + ": " + reason);
    }
    [[noreturn]] void Refuse(const std::string& reason) const { Refuse(line_, reason); }

    void Line(std::string_view text) {
        if (text.empty() || text.front() == '#' || text.front() == ';')
            return;
        if (text.front() == '[') {
            Header(text);
            return;
        }
        const std::size_t equals = text.find('=');
        if (equals == std::string_view::npos)
            Refuse("'" + std::string(text) +
                   "' is neither \"[send NAME]\", \"[rule NAME]\" nor \"key = value\"");
        const std::string key(Trim(text.substr(0, equals)));
        const std::string value(Trim(text.substr(equals + 1)));
        if (section_ == Section::None)
            Refuse("'" + key + "' comes before any [send NAME] or [rule NAME]");
        if (!seenKeys_.insert(key).second)
            Refuse("'" + key + "' is given twice in this section");
        if (section_ == Section::Send)
            SendKey(key, value);
        else
            RuleKey(key, value);
    }

    void Header(std::string_view text) {
        EndSection();
        if (text.back() != ']')
            Refuse("a section header ends with ']'");
        const std::string_view inner = Trim(text.substr(1, text.size() - 2));
        const std::size_t blank = inner.find_first_of(" \t");
        const std::string_view kind = inner.substr(0, blank);
        const std::string name(blank == std::string_view::npos ? std::string_view{}
                                                               : Trim(inner.substr(blank)));
        if (kind != "send" && kind != "rule")
            Refuse("'[" + std::string(kind) +
                   "' is no section: \"[send NAME]\" or \"[rule NAME]\"");
        if (name.empty())
            Refuse("a " + std::string(kind) + " needs a name");
        if (name.find_first_of("[]") != std::string::npos)
            Refuse("a name holds no '[' or ']'");
        sectionLine_ = line_;
        seenKeys_.clear();
        if (kind == "send") {
            if (!sendNames_.insert(name).second)
                Refuse("a send sequence named '" + name + "' is already there");
            section_ = Section::Send;
            set_.sends.push_back({});
            set_.sends.back().name = name;
        } else {
            if (!ruleNames_.insert(name).second)
                Refuse("a rule named '" + name + "' is already there");
            section_ = Section::Rule;
            set_.rules.push_back({});
            set_.rules.back().name = name;
            answerLines_.push_back(line_);
        }
    }

    // A section is complete when it has what it cannot do without.
    void EndSection() {
        if (section_ == Section::Send && !seenKeys_.count("line"))
            Refuse(sectionLine_, "send sequence '" + set_.sends.back().name + "' has no line");
        if (section_ == Section::Rule && !seenKeys_.count("pattern"))
            Refuse(sectionLine_, "rule '" + set_.rules.back().name + "' has no pattern");
        section_ = Section::None;
    }

    long Number(const std::string& key, const std::string& value, long least, long most) const {
        if (value.empty() || value.size() > 9 ||
            value.find_first_not_of("0123456789") != std::string::npos)
            Refuse("'" + key + "' takes a whole number, not '" + value + "'");
        const long number = std::stol(value);
        if (number < least || number > most)
            Refuse("'" + key + "' takes " + std::to_string(least) + " to " + std::to_string(most) +
                   ", not " + value);
        return number;
    }

    bool YesNo(const std::string& key, const std::string& value) const {
        if (value == "yes")
            return true;
        if (value == "no")
            return false;
        Refuse("'" + key + "' takes yes or no, not '" + value + "'");
    }

    void Check(const std::string& value) const {
        try {
            runner::CheckValueNamed(value);
        } catch (const std::exception& error) {
            Refuse(error.what());
        }
    }

    void SendKey(const std::string& key, const std::string& value) {
        SendSequence& send = set_.sends.back();
        if (key == "line") {
            try {
                if (fun::EncodeLine(value).empty())
                    Refuse("the line sends no byte");
            } catch (const ESequenceFile&) {
                throw;
            } catch (const std::exception& error) {
                Refuse("the line '" + value + "': " + error.what());
            }
            send.line = value;
        } else if (key == "check") {
            Check(value);
            send.check = value;
        } else if (key == "key") {
            if (!ParseKeyName(value, send.key, send.shift))
                Refuse("'key' takes F1 to F12, with \"Shift+\" or without, not '" + value + "'");
        } else if (key == "repeat") {
            send.repeat = static_cast<int>(Number(key, value, 1, kMaxRepeat));
        } else if (key == "interval") {
            send.intervalMs = static_cast<int>(Number(key, value, 0, kMaxMs));
        } else {
            Refuse("a send sequence has no '" + key +
                   "' (it has line, check, key, repeat, interval)");
        }
    }

    void RuleKey(const std::string& key, const std::string& value) {
        ReceiveRule& rule = set_.rules.back();
        if (key == "pattern") {
            try {
                runner::ParsePattern(value);
            } catch (const std::exception& error) {
                Refuse(error.what());
            }
            rule.pattern = value;
        } else if (key == "check") {
            Check(value);
            rule.check = value;
        } else if (key == "answer") {
            if (value.empty())
                Refuse("'answer' needs a send sequence's name");
            rule.answer = value;
            answerLines_.back() = line_;
        } else if (key == "delay") {
            rule.delayMs = static_cast<int>(Number(key, value, 0, kMaxMs));
        } else if (key == "mark") {
            rule.mark = YesNo(key, value);
        } else if (key == "count") {
            rule.count = YesNo(key, value);
        } else if (key == "stop timer") {
            rule.stopTimer = YesNo(key, value);
        } else if (key == "enabled") {
            rule.enabled = YesNo(key, value);
        } else {
            Refuse("a rule has no '" + key +
                   "' (it has pattern, check, answer, delay, mark, count, stop timer, enabled)");
        }
    }

    std::string fileName_;
    int line_ = 0;
    int sectionLine_ = 0;
    Section section_ = Section::None;
    std::set<std::string> seenKeys_;
    std::set<std::string> sendNames_;
    std::set<std::string> ruleNames_;
    std::vector<int> answerLines_;  // per rule: where its answer (or its header) is
    SequenceSet set_;
};

const char* YesNo(bool value) {
    return value ? "yes" : "no";
}

}  // namespace

SequenceSet ParseSequenceSet(std::string_view text, const std::string& fileName) {
    return Parser(fileName).Parse(text);
}

std::string FormatSequenceSet(const SequenceSet& set) {
    std::ostringstream out;
    out << "# Tarvik 2 sequence set (docs/sequences.md)\n";
    for (const SendSequence& send : set.sends) {
        out << "\n[send " << send.name << "]\n";
        out << "line = " << send.line << "\n";
        if (!send.check.empty())
            out << "check = " << send.check << "\n";
        if (send.key != 0)
            out << "key = " << KeyName(send.key, send.shift) << "\n";
        out << "repeat = " << send.repeat << "\n";
        out << "interval = " << send.intervalMs << "\n";
    }
    for (const ReceiveRule& rule : set.rules) {
        out << "\n[rule " << rule.name << "]\n";
        out << "pattern = " << rule.pattern << "\n";
        if (!rule.check.empty())
            out << "check = " << rule.check << "\n";
        if (!rule.answer.empty())
            out << "answer = " << rule.answer << "\n";
        out << "delay = " << rule.delayMs << "\n";
        out << "mark = " << YesNo(rule.mark) << "\n";
        out << "count = " << YesNo(rule.count) << "\n";
        out << "stop timer = " << YesNo(rule.stopTimer) << "\n";
        out << "enabled = " << YesNo(rule.enabled) << "\n";
    }
    return out.str();
}

SequenceSet LoadSequenceSet(const std::string& fileName) {
    std::string text;
    try {
        text = ReadBoundedFile(fileName, {.maxBytes = kMaxSetBytes, .what = "a sequence set may hold"});
    } catch (const EFileRead& error) {
        throw ESequenceFile(error.what());
    }
    return ParseSequenceSet(text, fileName);
}

void SaveSequenceSet(const std::string& fileName, const SequenceSet& set) {
    const std::string text = FormatSequenceSet(set);
    const std::string temporary = fileName + ".tmp";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr)
        throw ESequenceFile(fileName + ": cannot be written: " + std::strerror(errno));
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const int savedErrno = errno;
    const bool flushed = std::fflush(file) == 0 && fsync(fileno(file)) == 0;
    std::fclose(file);
    if (!written || !flushed || std::rename(temporary.c_str(), fileName.c_str()) != 0) {
        const int error = written ? errno : savedErrno;
        std::remove(temporary.c_str());
        throw ESequenceFile(fileName + ": cannot be written: " + std::strerror(error));
    }
}

}  // namespace tarvik::sequences
