// Whatever a device sends, cut into lines and read as samples, gives finite
// values in the channels there are, every line parsed or counted, and a CSV
// that reads back as what was parsed; any text read as a sample CSV gives rows
// or a clear refusal.
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "samples/sample_csv.h"
#include "samples/sample_lines.h"
#include "samples/sample_parser.h"
#include "samples/sample_store.h"

namespace {

using namespace samples;

const std::string& CsvFile() {
    static const std::string name = [] {
        std::string folder = "/tmp/tarvik-samples-fuzz-XXXXXX";
        if (!mkdtemp(folder.data())) std::abort();
        return folder + "/samples.csv";
    }();
    return name;
}

std::string FileText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte chooses the form and the size of the reads; the rest is what came.
    const SampleFormat format = data[0] & 1 ? SampleFormat::kLabels : SampleFormat::kCsv;
    const std::size_t piece = 1 + (data[0] >> 1) % 13;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

    try {
        (void)ReadSampleCsv(bytes);
    } catch (const ESampleCsv&) {
    }

    SampleLines cutter(256);
    std::vector<SampleLine> lines;
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        const std::int64_t t = static_cast<std::int64_t>(at) + 1;
        cutter.Add(bytes.substr(at, piece), {t, t}, {t + 1, t + 1}, lines);
    }
    cutter.Close(lines);

    SampleParser parser(format);
    SampleStore store(100);
    std::vector<SampleCsv::Row> sent;
    {
        SampleCsvWriter writer(CsvFile());
        std::vector<ChannelValue> values;
        for (const SampleLine& line : lines) {
            if (!parser.Parse(line.text, values)) {
                if (!values.empty()) std::abort();
                continue;
            }
            SampleCsv::Row row{line.time.wallUs, {}};
            for (const ChannelValue& v : values) {
                if (v.channel < 0 || v.channel >= kMaxChannels || !std::isfinite(v.value) ||
                    static_cast<std::size_t>(v.channel) >= parser.ChannelNames().size())
                    std::abort();
                if (row.values.size() <= static_cast<std::size_t>(v.channel)) row.values.resize(v.channel + 1);
                row.values[v.channel] = v.value;
            }
            sent.push_back(std::move(row));
            writer.Row(line.time.wallUs, values, parser.ChannelNames());
            store.Add(line.time.wallUs, values);
        }
        writer.Finish();
    }
    if (parser.Parsed() + parser.Skipped() > lines.size() || parser.Parsed() + parser.Skipped() + 1 < lines.size())
        std::abort();

    const SampleCsv back = ReadSampleCsv(FileText(CsvFile()));
    if (back.names != parser.ChannelNames() || back.rows.size() != sent.size()) std::abort();
    for (std::size_t i = 0; i < sent.size(); ++i) {
        SampleCsv::Row row = back.rows[i];
        while (!row.values.empty() && !row.values.back()) row.values.pop_back();
        if (row != sent[i]) std::abort();
    }

    // Every sample held falls in its bucket, within its least and greatest value.
    const auto [from, to] = store.TimeSpan();
    for (int c = 0; c < store.ChannelCount(); ++c) {
        const auto curve = store.Decimate(c, from, to, 1 + data[0] % 40);
        std::size_t bucket = 0;
        for (std::size_t i = 0; i < store.Count(c); ++i) {
            const SampleStore::Sample sample = store.At(c, i);
            while (bucket < curve.size() && curve[bucket].last_us < sample.timeUs) ++bucket;
            if (bucket == curve.size() || sample.timeUs < curve[bucket].first_us ||
                sample.value < curve[bucket].min || sample.value > curve[bucket].max)
                std::abort();
        }
        (void)store.Nearest(c, from + (to - from) / 2);
    }
    return 0;
}
