#include "capture/capture_format.h"

#include <array>
#include <charconv>
#include <utility>

#include "base/bounded_file.h"

namespace tarvik::capture {

using cport::LineEventKind;

namespace {

constexpr std::array<std::pair<LineEventKind, const char*>, 15> kEventWords{{
    {LineEventKind::kCts, "CTS"},
    {LineEventKind::kDsr, "DSR"},
    {LineEventKind::kRlsd, "DCD"},
    {LineEventKind::kRing, "RI"},
    {LineEventKind::kBreak, "break"},
    {LineEventKind::kFrame, "frame-error"},
    {LineEventKind::kParity, "parity-error"},
    {LineEventKind::kOverrun, "overrun"},
    {LineEventKind::kBufferOverrun, "buffer-overrun"},
    {LineEventKind::kOpened, "opened"},
    {LineEventKind::kClosed, "closed"},
    {LineEventKind::kLost, "lost"},
    {LineEventKind::kBack, "back"},
    {LineEventKind::kNoLineEvents, "no-line-events"},
    {LineEventKind::kUnconfirmed, "unconfirmed"},
}};

bool IsModemLine(LineEventKind kind) {
    return kind == LineEventKind::kCts || kind == LineEventKind::kDsr ||
           kind == LineEventKind::kRlsd || kind == LineEventKind::kRing;
}

bool IsCounted(LineEventKind kind) {
    return kind == LineEventKind::kBreak || kind == LineEventKind::kFrame ||
           kind == LineEventKind::kParity || kind == LineEventKind::kOverrun ||
           kind == LineEventKind::kBufferOverrun || kind == LineEventKind::kUnconfirmed;
}

void AppendNumber(std::int64_t value, std::string& out) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

// The fields of one line, split on single spaces.
std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t space = line.find(' ', start);
        fields.push_back(line.substr(start, space - start));
        if (space == std::string_view::npos)
            return fields;
        start = space + 1;
    }
}

// A word in double quotes. (Built by appending: GCC 12 warns falsely about
// "literal" + std::string in a Release build.)
std::string Quoted(std::string_view word) {
    std::string text = "\"";
    text.append(word).append("\"");
    return text;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

class LineParser {
  public:
    LineParser(std::size_t number, std::string_view line) : number_(number), line_(line) {}

    CaptureRecord Parse() const {
        const auto fields = Fields(line_);
        if (fields.size() < 3)
            Fail("expected \"<monotonic µs> <wall-clock µs> rx|tx|ev ...\"");
        CaptureRecord record;
        record.time.monoUs = Number(fields[0], "monotonic time");
        record.time.wallUs = Number(fields[1], "wall-clock time");
        if (record.time.monoUs <= 0)
            Fail("the monotonic time must be above 0");
        const std::string_view what = fields[2];
        if (what == "rx" || what == "tx") {
            record.kind = what == "rx" ? RecordKind::kReceived : RecordKind::kSent;
            if (fields.size() != 4)
                Fail(std::string("a block has one field of hex bytes after ").append(Quoted(what)));
            record.bytes = Bytes(fields[3]);
            return record;
        }
        if (what != "ev")
            Fail(Quoted(what).append(" is not rx, tx or ev"));
        record.kind = RecordKind::kEvent;
        record.event.time = record.time;
        if (fields.size() < 4)
            Fail("an event needs its name");
        record.event.kind = Event(fields[3]);
        const bool modem = IsModemLine(record.event.kind);
        const bool counted = IsCounted(record.event.kind);
        if (fields.size() != (modem || counted ? 5u : 4u))
            Fail(modem     ? "a modem line takes \"on\" or \"off\""
                 : counted ? "a counted event takes its count"
                           : "this event takes nothing after its name");
        if (modem) {
            if (fields[4] != "on" && fields[4] != "off")
                Fail("a modem line takes \"on\" or \"off\"");
            record.event.state = fields[4] == "on";
        } else if (counted) {
            const std::int64_t count = Number(fields[4], "count");
            if (count > 0xffffffff)
                Fail("the count is too large");
            record.event.count = static_cast<std::uint32_t>(count);
        }
        return record;
    }

  private:
    [[noreturn]] void Fail(const std::string& what) const { throw ECaptureFormat(number_, what); }

    std::int64_t Number(std::string_view field, const char* name) const {
        std::int64_t value = 0;
        const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
        if (field.empty() || error != std::errc{} || end != field.data() + field.size() ||
            value < 0)
            Fail(std::string("the ") + name + " is not a whole number of 0 or more");
        return value;
    }

    std::string Bytes(std::string_view hex) const {
        if (hex.empty() || hex.size() % 2 != 0)
            Fail("the bytes must be pairs of hex digits (0-9, a-f), at least one pair");
        std::string bytes;
        bytes.reserve(hex.size() / 2);
        for (std::size_t i = 0; i < hex.size(); i += 2) {
            const int high = HexDigit(hex[i]);
            const int low = HexDigit(hex[i + 1]);
            if (high < 0 || low < 0)
                Fail(Quoted(hex.substr(i, 2)).append(" is not a pair of hex digits (0-9, a-f)"));
            bytes.push_back(static_cast<char>(high * 16 + low));
        }
        return bytes;
    }

    LineEventKind Event(std::string_view word) const {
        for (const auto& [kind, name] : kEventWords) {
            if (word == name)
                return kind;
        }
        Fail(Quoted(word).append(" is not a line event"));
    }

    std::size_t number_;
    std::string_view line_;
};

}  // namespace

ECaptureFormat::ECaptureFormat(std::size_t line, const std::string& what)
    : std::runtime_error(
          std::string("line ").append(std::to_string(line)).append(": ").append(what)),
      line_(line) {}

bool operator==(const CaptureRecord& a, const CaptureRecord& b) {
    if (a.kind != b.kind || a.time != b.time)
        return false;
    if (a.kind != RecordKind::kEvent)
        return a.bytes == b.bytes;
    return a.event.kind == b.event.kind && a.event.state == b.event.state &&
           a.event.count == b.event.count;
}

const char* EventWord(LineEventKind kind) {
    for (const auto& [k, name] : kEventWords) {
        if (k == kind)
            return name;
    }
    return "?";
}

void AppendRecordLine(const CaptureRecord& record, std::string& out) {
    static constexpr char kHex[] = "0123456789abcdef";
    AppendNumber(record.time.monoUs, out);
    out += ' ';
    AppendNumber(record.time.wallUs, out);
    switch (record.kind) {
        case RecordKind::kReceived:
        case RecordKind::kSent: {
            out += record.kind == RecordKind::kReceived ? " rx " : " tx ";
            const std::size_t at = out.size();
            out.resize(at + record.bytes.size() * 2);
            char* hex = out.data() + at;
            for (const char c : record.bytes) {
                const auto byte = static_cast<unsigned char>(c);
                *hex++ = kHex[byte >> 4];
                *hex++ = kHex[byte & 15];
            }
            break;
        }
        case RecordKind::kEvent:
            out += " ev ";
            out += EventWord(record.event.kind);
            if (IsModemLine(record.event.kind)) {
                out += record.event.state ? " on" : " off";
            } else if (IsCounted(record.event.kind)) {
                out += ' ';
                AppendNumber(record.event.count, out);
            }
            break;
    }
    out += '\n';
}

CaptureParser::CaptureParser(std::size_t maxLineBytes) : maxLineBytes_(maxLineBytes) {}

void CaptureParser::CheckHeaderStart(std::string_view start) const {
    const std::string_view header = kTimedHeader.substr(0, kTimedHeader.size() - 1);
    if (!header.starts_with(start.substr(0, header.size())) ||
        (start.size() > header.size() && start[header.size()] != '\n'))
        throw ECaptureFormat(1, std::string("not a timed capture: the first line must be ")
                                    .append(Quoted(header)));
}

bool CaptureParser::TakeLine(std::string_view& piece, std::string_view& line) {
    // Until the header is whole, every byte is checked as it comes: an
    // endless stream of anything else is refused at its first bytes.
    if (line_ == 0)
        CheckHeaderStart(held_ + std::string(piece.substr(0, kTimedHeader.size())));
    const std::size_t end = piece.find('\n');
    const std::size_t length = end == std::string_view::npos ? piece.size() : end;
    if (held_.size() + length > maxLineBytes_)
        throw ECaptureFormat(line_ + 1, "the line is longer than the " +
                                            DescribeBytes(maxLineBytes_) +
                                            " a capture's line may hold");
    if (end == std::string_view::npos) {
        held_.append(piece);
        piece = {};
        return false;
    }
    if (held_.empty()) {
        line = piece.substr(0, end);
    } else {
        held_.append(piece.substr(0, end));
        line = held_;
    }
    piece.remove_prefix(end + 1);
    return true;
}

bool CaptureParser::ParseLine(std::string_view line, CaptureRecord& record) {
    ++line_;
    const bool skip = line_ == 1 || line.starts_with('#');
    if (!skip)
        record = LineParser(line_, line).Parse();
    held_.clear();  // `line` may point into it: cleared only once parsed
    return !skip;
}

std::string CaptureParser::Finish() {
    if (line_ == 0 && held_.empty())
        throw ECaptureFormat(1, std::string("not a timed capture: the file is empty"));
    if (held_.empty())
        return {};
    // Where a full disk stopped the writer: the record is incomplete, so it
    // is left out, and everything before it stands.
    std::string warning = "line " + std::to_string(line_ + 1) +
                          ": cut short (the last line has no end); left out";
    held_.clear();
    return warning;
}

std::vector<CaptureRecord> ParseCapture(std::string_view text, std::string* warning) {
    std::vector<CaptureRecord> records;
    CaptureParser parser;
    parser.Feed(text, [&](CaptureRecord&& record) { records.push_back(std::move(record)); });
    std::string cut = parser.Finish();
    if (warning != nullptr)
        *warning = std::move(cut);
    return records;
}

}  // namespace tarvik::capture
