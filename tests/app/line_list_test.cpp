#include "app/line_list.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <algorithm>
#include <cctype>
#include <deque>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace tarvik {
namespace {

std::vector<std::string> All(const TLineListModel& model) {
    std::vector<std::string> lines;
    for (int row = 0; row < model.Count(); ++row) lines.emplace_back(model.Line(row));
    return lines;
}

// The receive log's use: lines in at the top, out at the bottom, long after
// the buffer was first filled; every line reads back as it went in, through
// the compactions of the buffer, and the widest line is kept up.
TEST(TLineListModel, KeepsEveryLineThroughInsertionsRemovalsAndCompaction) {
    TLineListModel model;
    model.SetMeasure([](std::string_view line) { return static_cast<int>(line.size()); });
    std::deque<std::string> expected;
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        std::vector<std::string> batch;
        for (int i = 0, n = int(random() % 3) + 1; i < n; ++i)
            batch.push_back(std::string(random() % 300, char('a' + round % 26)));
        const int at = round % 5 == 0 ? model.Count() : 0;
        model.Insert(at, std::vector<std::string_view>(batch.begin(), batch.end()));
        expected.insert(expected.begin() + at, batch.begin(), batch.end());
        if (expected.size() > 200) {
            const int drop = int(expected.size()) - 200;
            model.Remove(200, drop);
            expected.erase(expected.begin() + 200, expected.end());
        }
        if (round % 500 == 0) {
            std::size_t widest = 0;
            for (const std::string& line : expected) widest = std::max(widest, line.size());
            ASSERT_EQ(model.Widest(), int(widest)) << "round " << round;
        }
    }
    EXPECT_EQ(All(model), std::vector<std::string>(expected.begin(), expected.end()));

    // Lines taken out here and there, as a user does, until the dead bytes
    // are the larger part and the lines are packed afresh.
    for (int i = 0; i < 3000; ++i) {
        const std::string line(100 + i % 7, char('A' + i % 26));
        model.Insert(model.Count(), {line});
        expected.push_back(line);
    }
    for (int row = model.Count() - 1; row >= 0; row -= 3) {
        model.Remove(row - 1, 2);
        expected.erase(expected.begin() + std::max(row - 1, 0), expected.begin() + row + 1);
    }
    EXPECT_EQ(All(model), std::vector<std::string>(expected.begin(), expected.end()));
    std::size_t widest = 0;
    for (const std::string& line : expected) widest = std::max(widest, line.size());
    EXPECT_EQ(model.Widest(), int(widest));

    // Own lines pasted back into the same model.
    const std::vector<std::string> before = All(model);
    const int last = model.Count() - 1;
    model.Insert(1, {model.Line(0), model.Line(last)});
    EXPECT_EQ(model.Line(1), before[0]);
    EXPECT_EQ(model.Line(2), before[std::size_t(last)]);
    EXPECT_EQ(model.Count(), last + 3);
}

// A log running for long: more bytes pass through than the lines' starts
// can address (here 8 MiB), and the addresses of the blocks gone are used
// again, also within one insertion.
TEST(TLineListModel, KeepsLinesWhileMoreBytesPassThroughThanAddresses) {
    TLineListModel model(nullptr, 8 << 20);
    std::deque<std::string> expected;
    std::mt19937 random(3);
    for (int round = 0; round < 400; ++round) {
        std::vector<std::string> batch;
        for (int i = 0, n = int(random() % 3) + 1; i < n; ++i)
            batch.push_back(std::string(random() % (300 << 10), char(round)));
        model.Insert(0, std::vector<std::string_view>(batch.begin(), batch.end()));
        model.Remove(5, model.Count() - 5);
        expected.insert(expected.begin(), batch.begin(), batch.end());
        expected.resize(std::min<std::size_t>(expected.size(), 5));
        ASSERT_EQ(All(model), std::vector<std::string>(expected.begin(), expected.end()))
            << "round " << round;
    }
    // More than the addresses hold at once is refused, and nothing changes.
    const std::string huge(9 << 20, 'h');
    EXPECT_THROW(model.Insert(0, {expected[0], huge}), std::length_error);
    EXPECT_EQ(All(model), std::vector<std::string>(expected.begin(), expected.end()));
}

// A loaded file is one insertion of all its lines, split as list files are.
TEST(TLineListModel, ReplaceTakesAListFilesTextInOneInsertion) {
    TLineListModel model;
    model.Insert(0, {"old"});
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    model.Replace("a\r\nb\n\rc\r\n\xFF");
    EXPECT_EQ(All(model), (std::vector<std::string>{"a", "b", "", "c", "\xFF"}));
    ASSERT_EQ(inserted.count(), 1);
    EXPECT_EQ(inserted[0][1].toInt(), 0);
    EXPECT_EQ(inserted[0][2].toInt(), 4);
    EXPECT_EQ(model.data(model.index(4, 0), Qt::DisplayRole).toString(), QString(QChar(0xFF)));

    model.Replace("");
    EXPECT_EQ(model.Count(), 0);
}

// A receive log's lines keep the bytes they show, among lines that keep
// none (loaded, events), through insertions at the top, removals at the
// bottom and the reuse of the addresses (8 MiB here); a new form shows
// exactly those bytes again, the rest of each line as it was.
TEST(TLineListModel, LinesKeepTheirBytesToBeShownAgain) {
    TLineListModel model(nullptr, 8 << 20);
    model.SetMeasure([](std::string_view line) { return static_cast<int>(line.size()); });
    model.Replace("loaded\nlines\n");
    const auto upper = [](std::string_view bytes) {
        std::string shown(bytes);
        for (char& c : shown) c = char(std::toupper(static_cast<unsigned char>(c)));
        return shown;
    };
    const auto twice = [](std::string_view bytes) { return std::string(bytes) + std::string(bytes); };
    struct Expected {
        std::string head, bytes, tail;
    };
    std::deque<Expected> expected = {{"loaded", "", ""}, {"lines", "", ""}};
    std::mt19937 random(5);
    for (int round = 0; round < 700; ++round) {
        const std::string bytes(random() % (20 << 10), char('a' + round % 26));
        const Expected line = round % 7 == 0 ? Expected{"== event " + std::to_string(round), "", ""}
                                             : Expected{"12:00 ", bytes, " (" + std::to_string(round) + ")"};
        const std::string text = line.head + line.bytes + line.tail;
        model.Insert(0, {text}, {}, {{line.bytes, line.head.size(), line.bytes.size()}});
        expected.push_front(line);
        if (expected.size() > 60) {
            model.Remove(60, int(expected.size()) - 60);
            expected.resize(60);
        }
    }
    using Display = std::function<std::string(std::string_view)>;
    for (const Display& display : {Display(upper), Display(twice)}) {
        model.Reshow(display);
        std::size_t widest = 0;
        for (std::size_t row = 0; row < expected.size(); ++row) {
            const Expected& line = expected[row];
            const std::string text = line.head + (line.bytes.empty() ? "" : display(line.bytes)) + line.tail;
            ASSERT_EQ(model.Line(int(row)), text) << "row " << row;
            ASSERT_EQ(model.BytesOf(int(row)), line.bytes);
            widest = std::max(widest, text.size());
        }
        EXPECT_EQ(model.Widest(), int(widest));
    }
    EXPECT_EQ(model.LinesWithBytes(),
              std::count_if(expected.begin(), expected.end(), [](const Expected& line) { return !line.bytes.empty(); }));
    // A line's bytes must lie within it; a loaded file keeps none.
    EXPECT_THROW(model.Insert(0, {"ab"}, {}, {{"x", 1, 2}}), std::invalid_argument);
    model.Replace("a\nb\n");
    EXPECT_EQ(model.LinesWithBytes(), 0);
}

}  // namespace
}  // namespace tarvik
