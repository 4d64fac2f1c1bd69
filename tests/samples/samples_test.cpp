// Numbers read from received lines, kept and written as CSV: tables over the
// parser and the line cutter, the store's bounds and curves, and files read back.

#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "samples/sample_csv.h"
#include "samples/sample_lines.h"
#include "samples/sample_parser.h"
#include "samples/sample_store.h"

namespace samples {
namespace {

using Values = std::vector<ChannelValue>;
using Span = std::pair<std::int64_t, std::int64_t>;
using TimeValue = std::pair<std::int64_t, double>;

struct ParseCase {
    const char* name;
    SampleFormat format;
    std::vector<std::string> lines;
    std::vector<Values> values;  // per line; empty: skipped
    std::vector<std::string> names;
    std::uint64_t skipped;
    std::uint64_t skippedValues;
};

constexpr auto kCsv = SampleFormat::kCsv;
constexpr auto kLabels = SampleFormat::kLabels;
const double kNegativeZero = -0.0;

const ParseCase kParseCases[] = {
    {"csv without header: commas, tabs, spaces, CR LF", kCsv,
     {"1,2.5,-3\r\n", "4\t5 6", " 7 ,  8\t 9 "},
     {{{0, 1}, {1, 2.5}, {2, -3}}, {{0, 4}, {1, 5}, {2, 6}}, {{0, 7}, {1, 8}, {2, 9}}},
     {"1", "2", "3"}, 0, 0},
    {"csv header names the channels; empty cells and trailing separators", kCsv,
     {"Booting", "temp,,hum", "1,,3,", ",2"},
     {{}, {}, {{0, 1}, {2, 3}}, {{1, 2}}},
     {"temp", "2", "hum"}, 1, 0},
    {"csv banner without as many fields is no header; junk after data skipped", kCsv,
     {"Sensor ready", "1 2 3", "Temp: 23.5 C", "1;2", "0x10", "1,5e"},
     {{}, {{0, 1}, {1, 2}, {2, 3}}, {}, {}, {}, {}},
     {"1", "2", "3"}, 5, 0},
    {"decimal point only; + and . forms; huge and tiny numbers", kCsv,
     {"1,5 +2 .5 1.", "1e308 -1.7976931348623157e308 4.9e-324 1e-999 -1e-999"},
     {{{0, 1}, {1, 5}, {2, 2}, {3, 0.5}, {4, 1}},
      {{0, 1e308}, {1, -1.7976931348623157e308}, {2, 4.9e-324}, {3, 0}, {4, kNegativeZero}}},
     {"1", "2", "3", "4", "5"}, 0, 0},
    {"nan, inf and out of range are refused values, the rest stands", kCsv,
     {"nan,1,inf,-Infinity,1e999,-1e400", "NaN inf"},
     {{{1, 1}}, {}},
     {"1", "2"}, 1, 5},
    {"csv: fields beyond 16 channels are dropped and counted", kCsv,
     {"0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17"},
     {{{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 6}, {7, 7}, {8, 8}, {9, 9},
       {10, 10}, {11, 11}, {12, 12}, {13, 13}, {14, 14}, {15, 15}}},
     {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14", "15", "16"}, 0,
     2},
    {"labels: channels in order of first appearance, any separator", kLabels,
     {"temp:21.5,hum:40\r", "hum:41 setpoint: +22\ttemp:-1e-3", "a:b:7"},
     {{{0, 21.5}, {1, 40}}, {{1, 41}, {2, 22}, {0, -1e-3}}, {{3, 7}}},
     {"temp", "hum", "setpoint", "a:b"}, 0, 0},
    {"labels: junk fields and values refused, lines without a pair skipped", kLabels,
     {"Sensor ready", "x:1 y:abc :3 7 z: nan w: q:1 v:", "", "1,2,3"},
     {{}, {{0, 1}, {1, 1}}, {}, {}},
     {"x", "q"}, 3, 6},
};

TEST(SampleParserTest, Table) {
    for (const ParseCase& c : kParseCases) {
        SCOPED_TRACE(c.name);
        SampleParser parser(c.format);
        Values out;
        for (std::size_t i = 0; i < c.lines.size(); ++i) {
            SCOPED_TRACE(c.lines[i]);
            EXPECT_EQ(parser.Parse(c.lines[i], out), !c.values[i].empty());
            ASSERT_EQ(out, c.values[i]);
            for (std::size_t v = 0; v < out.size(); ++v) {
                EXPECT_EQ(std::signbit(out[v].value), std::signbit(c.values[i][v].value));
            }
        }
        EXPECT_EQ(parser.ChannelNames(), c.names);
        EXPECT_EQ(parser.Skipped(), c.skipped);
        EXPECT_EQ(parser.SkippedValues(), c.skippedValues);
    }
}

// A locale with a decimal comma (made here from the system's de_DE, numbers
// only) must not change what a line reads as.
TEST(SampleParserTest, DecimalPointUnderADecimalCommaLocale) {
    char folder[] = "/tmp/tarvik-locale-XXXXXX";
    ASSERT_TRUE(mkdtemp(folder));
    const std::string source = std::string(folder) + "/numbers";
    std::ofstream(source) << "LC_NUMERIC\ncopy \"de_DE\"\nEND LC_NUMERIC\n";
    std::system(("localedef -c -i " + source + " " + folder + "/de_numbers >/dev/null 2>&1").c_str());
    setenv("LOCPATH", folder, 1);
    const bool made = std::setlocale(LC_NUMERIC, "de_numbers") != nullptr;
    if (made) {
        EXPECT_EQ(std::strtod("1,5", nullptr), 1.5);
        SampleParser parser(kCsv);
        Values out;
        EXPECT_TRUE(parser.Parse("1.5,2", out));
        EXPECT_EQ(out, (Values{{0, 1.5}, {1, 2}}));
        EXPECT_FALSE(parser.Parse("1,5;2", out));
    }
    std::setlocale(LC_NUMERIC, "C");
    unsetenv("LOCPATH");
    std::filesystem::remove_all(folder);
    if (!made) GTEST_SKIP() << "no de_DE locale source here (Debian's locales package)";
}

struct LinesCase {
    const char* name;
    std::vector<std::string> blocks;  // block i arrives with first time 10i+1, last 10i+2
    std::vector<std::pair<std::string, std::int64_t>> lines;  // text and time of its LF
    std::uint64_t tooLong;
};

const LinesCase kLinesCases[] = {
    {"lines across blocks carry their LF's time", {"1,2\n3", ",4\n5\n", "\n6"},
     {{"1,2", 2}, {"3,4", 12}, {"5", 12}, {"", 21}, {"6", 22}}, 0},
    {"a line over the bound is skipped, the next one kept", {"12345", "6\nab\n12345678\nc"},
     {{"ab", 12}, {"c", 12}}, 2},
};

TEST(SampleLinesTest, Table) {
    for (const LinesCase& c : kLinesCases) {
        SCOPED_TRACE(c.name);
        SampleLines cutter(5);
        std::vector<SampleLine> out;
        for (std::size_t i = 0; i < c.blocks.size(); ++i) {
            const std::int64_t t = 10 * static_cast<std::int64_t>(i);
            cutter.Add(c.blocks[i], {t + 1, 1000 + t + 1}, {t + 2, 1000 + t + 2}, out);
        }
        cutter.Close(out);
        ASSERT_EQ(out.size(), c.lines.size());
        for (std::size_t i = 0; i < out.size(); ++i) {
            EXPECT_EQ(out[i].text, c.lines[i].first);
            EXPECT_EQ(out[i].time.monoUs, c.lines[i].second);
            EXPECT_EQ(out[i].time.wallUs, 1000 + c.lines[i].second);
        }
        EXPECT_EQ(cutter.TooLong(), c.tooLong);
    }
}

// A store of 130 samples a channel (rounded up to 192): the oldest leave
// first, and every decimated bucket, across the ring's seam and at uneven
// times, agrees with the samples it covers.
TEST(SampleStoreTest, BoundsAndCurves) {
    const auto T = [](std::int64_t i) { return 1000 + 10 * i + i * i % 9; };
    SampleStore store(130);
    ASSERT_EQ(store.Capacity(), 192u);
    const int total = 1000;
    for (int i = 0; i < total; ++i) {
        const double wave = std::sin(i * 0.37) * (i % 50);
        const Values values{{0, wave}, {2, double(i)}};
        store.Add(T(i) - (i == 500 ? 20 : 0), values);  // one time out of order
    }
    EXPECT_EQ(store.ChannelCount(), 3);
    EXPECT_EQ(store.Count(0), 192u);
    EXPECT_EQ(store.Count(1), 0u);
    EXPECT_EQ(store.Dropped(2), std::uint64_t(total - 192));
    EXPECT_EQ(store.TimeSpan(), Span(T(808), T(999)));
    EXPECT_EQ(store.At(2, 0).value, 808);
    for (const int buckets : {1, 7, 100, 5000}) {
        SCOPED_TRACE(buckets);
        const auto curve = store.Decimate(0, T(850) + 3, T(990), buckets);
        std::size_t next = 851 - 808;
        for (const SampleStore::Bucket& b : curve) {
            double lo = std::numeric_limits<double>::max(), hi = -lo;
            const std::size_t first = next;
            for (; next < store.Count(0) && store.At(0, next).timeUs <= b.last_us; ++next) {
                lo = std::min(lo, store.At(0, next).value);
                hi = std::max(hi, store.At(0, next).value);
            }
            EXPECT_EQ(b.first_us, store.At(0, first).timeUs);
            EXPECT_EQ(b.first, store.At(0, first).value);
            EXPECT_EQ(b.last, store.At(0, next - 1).value);
            EXPECT_EQ(b.min, lo);
            EXPECT_EQ(b.max, hi);
        }
        EXPECT_EQ(next, 991u - 808);
        EXPECT_LE(curve.size(), std::size_t(buckets));
    }
    EXPECT_EQ(store.Nearest(2, T(900) + 5), TimeValue(T(900), 900));
    EXPECT_EQ(store.Nearest(2, 0)->second, 808);
    EXPECT_EQ(store.Nearest(2, 1'000'000)->second, 999);
    EXPECT_FALSE(store.Nearest(1, 0));
    EXPECT_TRUE(store.Decimate(0, 10, 5, 10).empty());
    store.Clear();
    EXPECT_EQ(store.ChannelCount(), 0);
    EXPECT_EQ(store.TimeSpan(), Span(0, 0));
}

class TempDir {
  public:
    TempDir() {
        std::string name = (std::filesystem::temp_directory_path() / "tarvik-samples-XXXXXX").string();
        path_ = ::mkdtemp(name.data());
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

std::string FileText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Labels arriving late, awkward names and exact values: the streamed file and
// the store's export read back as what went in.
TEST(SampleCsvTest, RoundTrip) {
    TempDir dir;
    SampleParser parser(kLabels);
    SampleStore store;
    SampleCsvWriter writer(dir / "streamed.csv");
    const std::vector<std::string> lines{"a:0.1,b:-2e-300", "a:3 q\"u:1.7976931348623157e308",
                                         "b:5e-324"};
    std::vector<SampleCsv::Row> sent;
    Values values;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        ASSERT_TRUE(parser.Parse(lines[i], values));
        const std::int64_t wallUs = 1'765'298'461'000'007 + 1'000'000 * std::int64_t(i);
        writer.Row(wallUs, values, parser.ChannelNames());
        store.Add(wallUs, values);
        SampleCsv::Row row{wallUs, {}};
        for (const ChannelValue& v : values) {
            row.values.resize(std::max<std::size_t>(row.values.size(), v.channel + 1));
            row.values[v.channel] = v.value;
        }
        sent.push_back(row);
    }
    writer.Finish();
    std::ofstream(dir / "export.csv") << "an older export";
    std::filesystem::permissions(dir / "export.csv", std::filesystem::perms(0640));
    WriteStoreCsv(store, parser.ChannelNames(), dir / "export.csv");
    EXPECT_EQ(std::filesystem::status(dir / "export.csv").permissions(), std::filesystem::perms(0640));
    const std::string streamed = FileText(dir / "streamed.csv");
    EXPECT_EQ(streamed.substr(0, streamed.find('\n', 20) + 1),
              "time,a,b,\"q\"\"u\"\n1765298461.000007,0.1,-2e-300\n");
    for (const char* file : {"streamed.csv", "export.csv"}) {
        SCOPED_TRACE(file);
        const SampleCsv csv = ReadSampleCsv(FileText(dir / file));
        EXPECT_EQ(csv.names, (std::vector<std::string>{"a", "b", "q\"u"}));
        ASSERT_EQ(csv.rows.size(), sent.size());
        for (std::size_t i = 0; i < sent.size(); ++i) {
            auto row = csv.rows[i];
            while (!row.values.empty() && !row.values.back()) row.values.pop_back();
            EXPECT_EQ(row, sent[i]);
        }
    }
    // Two messages of one read share their time; the export keeps them apart.
    SampleStore oneRead;
    oneRead.Add(7, std::vector<ChannelValue>{{0, 1.0}});
    oneRead.Add(7, std::vector<ChannelValue>{{1, 2.0}});
    WriteStoreCsv(oneRead, {"a", "b"}, dir / "one-read.csv");
    EXPECT_EQ(FileText(dir / "one-read.csv"), "time,a,b\n0.000007,1,\n0.000008,,2\n");
    EXPECT_EQ(CsvTime(-1'500'000), "-1.500000");
    EXPECT_THROW(SampleCsvWriter(dir / "no-such-folder/x.csv"), ESampleCsv);
    EXPECT_THROW(WriteStoreCsv(store, {}, dir / "no-such-folder/x.csv"), ESampleCsv);
    for (const char* bad : {"", "t,a\n", "time\nx\n", "time,a\n1.0000001,2\n", "time,a\n1,2,x\n",
                            "time,\"a\n"}) {
        EXPECT_THROW(ReadSampleCsv(bad), ESampleCsv) << bad;
    }
}

}  // namespace
}  // namespace samples
