#include "samples/sample_csv.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "samples/sample_store.h"

namespace samples {
namespace {

std::string Reason(int error) { return std::strerror(error); }

void AppendName(std::string_view name, std::string& out) {
    if (name.find_first_of(",\"\r\n") == std::string_view::npos) {
        out.append(name);
        return;
    }
    out.push_back('"');
    for (char c : name) {
        if (c == '"') out.push_back('"');
        out.push_back(c);
    }
    out.push_back('"');
}

void AppendHeader(const std::vector<std::string>& names, std::string& out) {
    out.append("time");
    for (const std::string& name : names) {
        out.push_back(',');
        AppendName(name, out);
    }
    out.push_back('\n');
}

}  // namespace

std::string CsvTime(std::int64_t wallUs) {
    // Whole seconds and µs apart, so the text is exact at any time.
    const bool negative = wallUs < 0;
    const std::uint64_t magnitude = negative ? std::uint64_t(0) - static_cast<std::uint64_t>(wallUs)
                                             : static_cast<std::uint64_t>(wallUs);
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%s%llu.%06llu", negative ? "-" : "",
                                     static_cast<unsigned long long>(magnitude / 1'000'000),
                                     static_cast<unsigned long long>(magnitude % 1'000'000));
    return std::string(text, static_cast<std::size_t>(length));
}

SampleCsvWriter::SampleCsvWriter(const std::string& fileName) : fileName_(fileName) {
    file_ = std::fopen(fileName.c_str(), "w");
    if (!file_) {
        throw ESampleCsv("Cannot write the samples to \"" + fileName + "\": " + Reason(errno));
    }
}

SampleCsvWriter::~SampleCsvWriter() {
    try {
        Finish();
    } catch (const ESampleCsv&) {
        // Whoever needed to know called Finish() first.
    }
}

void SampleCsvWriter::Fail(const char* what) {
    const int error = errno;
    if (file_) std::fclose(file_);
    file_ = nullptr;
    throw ESampleCsv("Cannot " + std::string(what) + " the samples in \"" + fileName_ +
                     "\": " + Reason(error));
}

void SampleCsvWriter::WriteHeader(const std::vector<std::string>& names) {
    line_.clear();
    AppendHeader(names, line_);
    if (std::fwrite(line_.data(), 1, line_.size(), file_) != line_.size()) Fail("write");
    written_ = names;
    headerDone_ = true;
}

void SampleCsvWriter::Row(std::int64_t wallUs, std::span<const ChannelValue> values,
                          const std::vector<std::string>& names) {
    if (!file_) throw ESampleCsv("The samples file \"" + fileName_ + "\" is closed");
    if (names.size() > names_.size()) names_ = names;
    if (!headerDone_) WriteHeader(names_);
    int cells = static_cast<int>(names_.size());
    for (const ChannelValue& v : values) cells = std::max(cells, v.channel + 1);
    cells = std::min(cells, kMaxChannels);
    // A message may name a channel twice ("a:1 a:2"): its last value stands.
    double cell[kMaxChannels];
    bool has[kMaxChannels] = {};
    for (const ChannelValue& v : values) {
        if (v.channel < 0 || v.channel >= kMaxChannels) continue;
        cell[v.channel] = v.value;
        has[v.channel] = true;
    }
    line_ = CsvTime(wallUs);
    char number[32];
    for (int i = 0; i < cells; ++i) {
        line_.push_back(',');
        if (!has[i]) continue;
        const auto result = std::to_chars(number, number + sizeof number, cell[i]);
        line_.append(number, result.ptr);
    }
    line_.push_back('\n');
    if (std::fwrite(line_.data(), 1, line_.size(), file_) != line_.size()) Fail("write");
    ++rows_;
}

void SampleCsvWriter::Flush() {
    if (file_ && std::fflush(file_) != 0) Fail("write");
}

void SampleCsvWriter::Finish() {
    if (!file_) return;
    if (!headerDone_) WriteHeader(names_);
    if (std::fflush(file_) != 0) Fail("write");
    if (names_.size() > written_.size()) CompleteHeader();
    std::FILE* file = file_;
    file_ = nullptr;
    if (std::fclose(file) != 0) {
        throw ESampleCsv("Cannot write the samples in \"" + fileName_ + "\": " + Reason(errno));
    }
}

// The header as written lacks channels named since: a regular file is copied
// under the whole header into a file beside it, which then takes its name.
void SampleCsvWriter::CompleteHeader() {
    struct stat info {};
    if (fstat(fileno(file_), &info) != 0 || !S_ISREG(info.st_mode)) return;
    std::string temporary = fileName_ + ".XXXXXX";
    const int out = mkstemp(temporary.data());
    if (out < 0) Fail("complete the header of");
    std::FILE* copy = fdopen(out, "w");
    std::FILE* in = std::fopen(fileName_.c_str(), "r");
    bool ok = copy && in;
    if (ok) {
        std::string header;
        AppendHeader(names_, header);
        ok = std::fwrite(header.data(), 1, header.size(), copy) == header.size();
        int c = 0;
        while (ok && (c = std::fgetc(in)) != EOF && c != '\n') {
        }
        char buffer[1 << 16];
        std::size_t got = 0;
        while (ok && (got = std::fread(buffer, 1, sizeof buffer, in)) > 0) {
            ok = std::fwrite(buffer, 1, got, copy) == got;
        }
        ok = ok && !std::ferror(in) && std::fflush(copy) == 0 && fchmod(out, info.st_mode & 07777) == 0;
    }
    const int error = errno;
    if (in) std::fclose(in);
    if (copy) {
        ok = std::fclose(copy) == 0 && ok;
    } else {
        close(out);
    }
    if (ok && std::rename(temporary.c_str(), fileName_.c_str()) == 0) {
        written_ = names_;
        return;
    }
    unlink(temporary.c_str());
    errno = error;
    Fail("complete the header of");
}

namespace {

// The rows of the store, merged by time: one sample per channel per row.
void WriteRows(const SampleStore& store, const std::vector<std::string>& names,
               const std::string& fileName) {
    SampleCsvWriter writer(fileName);
    const int channels = store.ChannelCount();
    std::vector<std::size_t> next(channels, 0);
    std::vector<ChannelValue> row;
    for (;;) {
        std::optional<std::int64_t> time;
        for (int c = 0; c < channels; ++c) {
            if (next[c] < store.Count(c)) {
                const std::int64_t t = store.At(c, next[c]).timeUs;
                time = time ? std::min(*time, t) : t;
            }
        }
        if (!time) break;
        row.clear();
        for (int c = 0; c < channels; ++c) {
            if (next[c] < store.Count(c) && store.At(c, next[c]).timeUs == *time) {
                row.push_back({c, store.At(c, next[c]).value});
                ++next[c];
            }
        }
        writer.Row(*time, row, names);
    }
    writer.Finish();
}

}  // namespace

void WriteStoreCsv(const SampleStore& store, const std::vector<std::string>& names,
                   const std::string& fileName) {
    std::vector<std::string> all = names;
    while (static_cast<int>(all.size()) < store.ChannelCount()) all.push_back(std::to_string(all.size() + 1));
    // A regular file is replaced only once the new one is whole, through a
    // file beside it, so that a failed export leaves the old one as it was;
    // anything else (a FIFO, a device, a folder we may not write) is written
    // into as it stands.
    struct stat old {};
    const bool exists = ::stat(fileName.c_str(), &old) == 0;
    if (exists && (!S_ISREG(old.st_mode) || ::access(fileName.c_str(), W_OK) != 0)) {
        WriteRows(store, all, fileName);
        return;
    }
    std::string temporary = fileName + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        WriteRows(store, all, fileName);
        return;
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    const bool moded = ::fchmod(fd, exists ? old.st_mode & 07777 : 0666 & ~mask) == 0;
    ::close(fd);
    try {
        WriteRows(store, all, temporary);
        if (!moded || ::rename(temporary.c_str(), fileName.c_str()) != 0) {
            throw ESampleCsv("Cannot write the samples to \"" + fileName + "\": " + Reason(errno));
        }
    } catch (const ESampleCsv& error) {
        ::unlink(temporary.c_str());
        // Told with the name the user gave.
        std::string what = error.what();
        if (const std::size_t at = what.find(temporary); at != std::string::npos) {
            what.replace(at, temporary.size(), fileName);
        }
        throw ESampleCsv(what);
    }
}

namespace {

// The cells of one line: commas apart, a cell in double quotes may hold
// commas and doubled quotes.
std::vector<std::string> SplitCells(std::string_view line, std::size_t lineNumber) {
    std::vector<std::string> cells(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c != '"') {
                cells.back().push_back(c);
            } else if (i + 1 < line.size() && line[i + 1] == '"') {
                cells.back().push_back('"');
                ++i;
            } else {
                quoted = false;
            }
        } else if (c == ',') {
            cells.emplace_back();
        } else if (c == '"' && cells.back().empty()) {
            quoted = true;
        } else {
            cells.back().push_back(c);
        }
    }
    if (quoted) {
        throw ESampleCsv("line " + std::to_string(lineNumber) + ": a quote is not closed");
    }
    return cells;
}

std::int64_t ReadTime(std::string_view text, std::size_t lineNumber) {
    const bool negative = !text.empty() && text.front() == '-';
    if (negative) text.remove_prefix(1);
    const std::size_t dot = text.find('.');
    const std::string_view whole = text.substr(0, dot);
    const std::string_view fraction = dot == std::string_view::npos ? "" : text.substr(dot + 1);
    std::uint64_t seconds = 0;
    std::uint64_t micro = 0;
    const auto wholeRead = std::from_chars(whole.data(), whole.data() + whole.size(), seconds);
    bool ok = !whole.empty() && wholeRead.ec == std::errc() && wholeRead.ptr == whole.end() &&
              fraction.size() <= 6 && seconds <= 9'000'000'000'000ULL;
    if (ok && !fraction.empty()) {
        const auto fractionRead =
            std::from_chars(fraction.data(), fraction.data() + fraction.size(), micro);
        ok = fractionRead.ec == std::errc() && fractionRead.ptr == fraction.end();
        for (std::size_t i = fraction.size(); i < 6; ++i) micro *= 10;
    }
    if (!ok) {
        throw ESampleCsv("line " + std::to_string(lineNumber) + ": \"" + std::string(text) +
                         "\" is no time in seconds");
    }
    const auto us = static_cast<std::int64_t>(seconds * 1'000'000 + micro);
    return negative ? -us : us;
}

}  // namespace

SampleCsv ReadSampleCsv(std::string_view text) {
    SampleCsv csv;
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        const std::size_t lf = text.find('\n');
        std::string_view line = text.substr(0, lf);
        text.remove_prefix(lf == std::string_view::npos ? text.size() : lf + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        ++lineNumber;
        std::vector<std::string> cells = SplitCells(line, lineNumber);
        if (lineNumber == 1) {
            if (cells.front() != "time") throw ESampleCsv("line 1: the header does not start with \"time\"");
            csv.names.assign(cells.begin() + 1, cells.end());
            continue;
        }
        SampleCsv::Row row;
        row.wallUs = ReadTime(cells.front(), lineNumber);
        for (std::size_t i = 1; i < cells.size(); ++i) {
            const std::string& cell = cells[i];
            if (cell.empty()) {
                row.values.emplace_back();
                continue;
            }
            double value = 0;
            const auto read = std::from_chars(cell.data(), cell.data() + cell.size(), value);
            if (read.ec != std::errc() || read.ptr != cell.data() + cell.size()) {
                throw ESampleCsv("line " + std::to_string(lineNumber) + ": \"" + cell +
                                 "\" is no number");
            }
            row.values.emplace_back(value);
        }
        csv.rows.push_back(std::move(row));
    }
    if (lineNumber == 0) throw ESampleCsv("line 1: there is no header");
    return csv;
}

}  // namespace samples
