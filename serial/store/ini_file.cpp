#include "serial/store/ini_file.h"

#include <algorithm>
#include <optional>
#include <system_error>

#include "base/bounded_file.h"
#include "base/int_conversion.h"
#include "serial/store/utf8_text.h"
#include "serial/store/whole_file.h"

namespace cport {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    return true;
}

bool IsQuote(char c) {
    return c == '"' || c == '\'';
}

bool QuotedPair(std::string_view text) {
    return text.size() >= 2 && IsQuote(text.front()) && text.front() == text.back();
}

std::string Unquote(std::string_view text) {
    text = Trim(text);
    if (QuotedPair(text))
        text = text.substr(1, text.size() - 2);
    return std::string(text);
}

// Quotes exactly the values that reading would otherwise change.
std::string Quote(const std::string& value) {
    bool needed =
        !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()) || QuotedPair(value));
    return needed ? "\"" + value + "\"" : value;
}

bool HoldsLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

}  // namespace

TIniFile::TIniFile(std::filesystem::path fileName) : fileName_(std::move(fileName)) {
    std::optional<std::string> bytes;
    try {
        bytes = ReadWholeFile(fileName_, kMaxFileBytes);
    } catch (const tarvik::EFileRead& error) {
        throw EIniFileError(std::string("Settings file: ") + error.what());
    }
    if (bytes)
        Parse(*bytes);
}

void TIniFile::FailAt(int lineNumber, const std::string& what) const {
    std::string where = "Settings file '" + fileName_.string() + "'";
    if (lineNumber > 0)
        where += ", line " + std::to_string(lineNumber);
    throw EIniFileError(where + ": " + what);
}

void TIniFile::Parse(std::string_view bytes) {
    if (bytes.find('\0') != std::string_view::npos)
        FailAt(0, "holds NUL bytes, so it is not a text file");
    if (bytes.starts_with(kByteOrderMark)) {
        bom_ = true;
        bytes.remove_prefix(kByteOrderMark.size());
    }

    // A line the reader cannot use (no "=", no closing "]", a key before the
    // first section) is skipped as other ini readers skip it, and kept as it
    // stands; a second copy of a key or a section is never found, so the
    // first one counts. What a load needs is checked when it reads it.
    bool inSection = false;
    int number = 0;
    while (!bytes.empty()) {
        // CR LF, a lone CR and a lone LF each end a line, as in the list files.
        const std::size_t end = bytes.find_first_of("\r\n");
        Line line;
        line.number = ++number;
        line.raw = std::string(bytes.substr(0, end));
        if (end != std::string_view::npos) {
            const std::size_t length =
                bytes[end] == '\r' && bytes.substr(end + 1).starts_with('\n') ? 2 : 1;
            line.end = std::string(bytes.substr(end, length));
            bytes.remove_prefix(end + length);
        } else {
            bytes = {};
        }
        if (number == 1 && !line.end.empty())
            lineEnd_ = line.end;

        std::string_view text = Trim(line.raw);
        if (text.empty() || text.front() == ';' || text.front() == '#') {
            line.kind = Line::kOther;
        } else if (text.front() == '[') {
            // What follows the "]" (a comment, say) is not part of the name.
            if (const auto close = text.find(']'); close != std::string_view::npos) {
                line.kind = Line::kSection;
                line.name = std::string(Trim(text.substr(1, close - 1)));
                inSection = true;
            }
        } else if (auto equals = text.find('='); equals != std::string_view::npos && inSection) {
            line.name = std::string(Trim(text.substr(0, equals)));
            if (!line.name.empty()) {
                line.kind = Line::kValue;
                line.value = Unquote(text.substr(equals + 1));
            }
        }
        lines_.push_back(std::move(line));
    }
}

int TIniFile::FindSection(const std::string& section) const {
    for (std::size_t i = 0; i < lines_.size(); ++i)
        if (lines_[i].kind == Line::kSection && SameName(lines_[i].name, section))
            return static_cast<int>(i);
    return -1;
}

int TIniFile::FindValue(const std::string& section, const std::string& ident) const {
    int header = FindSection(section);
    if (header < 0)
        return -1;
    for (std::size_t i = static_cast<std::size_t>(header) + 1;
         i < lines_.size() && lines_[i].kind != Line::kSection; ++i) {
        if (lines_[i].kind == Line::kValue && SameName(lines_[i].name, ident))
            return static_cast<int>(i);
    }
    return -1;
}

const TIniFile::Line* TIniFile::Find(std::string_view section, std::string_view ident) const {
    int at = FindValue(tarvik::Latin1ToUtf8(section), tarvik::Latin1ToUtf8(ident));
    return at < 0 ? nullptr : &lines_[static_cast<std::size_t>(at)];
}

std::string TIniFile::Where(const Line& line, std::string_view section) const {
    std::string where = "key \"" + line.name + "\" of section [" + tarvik::Latin1ToUtf8(section) +
                        "] in settings file '" + fileName_.string() + "'";
    if (line.number > 0)
        where += ", line " + std::to_string(line.number);
    return where;
}

bool TIniFile::SectionExists(std::string_view section) const {
    return FindSection(tarvik::Latin1ToUtf8(section)) >= 0;
}

bool TIniFile::ValueExists(std::string_view section, std::string_view ident) const {
    return Find(section, ident) != nullptr;
}

tarvik::Text TIniFile::ReadString(std::string_view section, std::string_view ident,
                                  std::string_view defaultValue) const {
    const Line* line = Find(section, ident);
    if (!line)
        return tarvik::Text(defaultValue);
    auto value = Utf8ToLatin1(line->value);
    if (!value) {
        throw EIniFileError("The value of " + Where(*line, section) +
                            (IsUtf8(line->value) ? " holds characters beyond Latin-1, which a "
                                                   "setting cannot hold"
                                                 : " is not UTF-8 text"));
    }
    return *value;
}

std::int32_t TIniFile::ReadInteger(std::string_view section, std::string_view ident,
                                   std::int32_t defaultValue) const {
    const Line* line = Find(section, ident);
    if (!line)
        return defaultValue;
    try {
        return tarvik::StrToInt(line->value);
    } catch (const tarvik::EConvertError&) {
        throw EIniFileError("'" + line->value + "' is not a valid integer value for " +
                            Where(*line, section));
    }
}

void TIniFile::WriteString(std::string_view section, std::string_view ident,
                           std::string_view value) {
    const std::string sectionName = tarvik::Latin1ToUtf8(section);
    const std::string key = tarvik::Latin1ToUtf8(ident);
    const std::string text = tarvik::Latin1ToUtf8(value);
    auto refuse = [&](const std::string& what) {
        throw EIniFileError("Cannot write key \"" + key + "\" of section [" + sectionName +
                            "] to settings file '" + fileName_.string() + "': " + what);
    };
    if (HoldsLineBreakOrNul(sectionName) || sectionName.find(']') != std::string::npos ||
        Trim(sectionName) != sectionName)
        refuse("the section name holds a line break, NUL, \"]\" or surrounding blanks");
    if (key.empty() || HoldsLineBreakOrNul(key) || key.find('=') != std::string::npos ||
        Trim(key) != key || key.front() == ';' || key.front() == '#' || key.front() == '[')
        refuse(
            "the key name is empty, holds a line break, NUL, \"=\" or surrounding blanks, "
            "or starts like a comment or section");
    if (HoldsLineBreakOrNul(text))
        refuse("the value holds a line break or NUL");

    Line line;
    line.kind = Line::kValue;
    line.raw = key + "=" + Quote(text);
    line.name = key;
    line.value = text;

    if (int at = FindValue(sectionName, key); at >= 0) {
        Line& old = lines_[static_cast<std::size_t>(at)];
        if (old.value == text)
            return;
        // Keeps the spelling of the key as the file has it.
        old.raw = old.name + "=" + Quote(text);
        old.value = text;
        modified_ = true;
        return;
    }
    int header = FindSection(sectionName);
    if (header < 0) {
        if (!lines_.empty() && !Trim(lines_.back().raw).empty())
            InsertAt(lines_.size(), Line{});
        Line head;
        head.kind = Line::kSection;
        head.raw = "[" + sectionName + "]";
        head.name = sectionName;
        InsertAt(lines_.size(), std::move(head));
        InsertAt(lines_.size(), std::move(line));
    } else {
        std::size_t after = static_cast<std::size_t>(header);
        for (std::size_t i = after + 1; i < lines_.size() && lines_[i].kind != Line::kSection; ++i)
            if (lines_[i].kind == Line::kValue)
                after = i;
        InsertAt(after + 1, std::move(line));
    }
    modified_ = true;
}

void TIniFile::InsertAt(std::size_t at, Line line) {
    // A new line ends as the one before it: a lone CR before a new blank
    // line ending in LF would read back as one CR LF, and the blank line lost.
    if (at > 0) {
        Line& before = lines_[at - 1];
        if (before.end.empty())
            before.end = lineEnd_;  // the last line, no longer last
        line.end = before.end;
    } else {
        line.end = lineEnd_;
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
}

void TIniFile::WriteInteger(std::string_view section, std::string_view ident, std::int32_t value) {
    WriteString(section, ident, std::to_string(value));
}

void TIniFile::UpdateFile() {
    if (!modified_)
        return;
    std::string bytes(bom_ ? kByteOrderMark : "");
    for (const Line& line : lines_) {
        bytes += line.raw;
        bytes += line.end;
    }
    try {
        ReplaceFileContents(fileName_, bytes);
    } catch (const tarvik::EFileRead& error) {
        throw EIniFileError(std::string("Settings file: ") + error.what());
    }
    modified_ = false;
}

}  // namespace cport
