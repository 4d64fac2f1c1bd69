// The samples' costs on their own: reading lines, keeping 16 channels of
// 1,000,000 samples, drawing curves from them, writing the CSV.
//  - parse: 16-field CSV lines and 16-pair label lines, lines per second;
//  - store: samples added per second, and the memory 16 full channels take;
//  - decimate: one frame = all 16 channels cut into BUCKETS buckets, over the
//    whole store, over a tenth, and over 1000 samples; ms per frame (median
//    and worst of FRAMES), beside a plain scan of the same samples without
//    the min/max blocks;
//  - csv: rows per second streamed into a file, and reading it back.
// Usage: samples_bench [samples per channel (default 1000000)] [BUCKETS (default 2000)]
//                      [FRAMES (default 60)]

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "samples/sample_csv.h"
#include "samples/sample_parser.h"
#include "samples/sample_store.h"

namespace {

using namespace samples;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// A figure of the process's memory, KiB: "VmRSS:" from status, or
// "AnonHugePages:" from smaps_rollup.
long MemoryKiB(const char* file, const std::string& key) {
    std::ifstream status(file);
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0) return std::stol(line.substr(key.size()));
    }
    return 0;
}

long RssKiB() { return MemoryKiB("/proc/self/status", "VmRSS:"); }

// The plain way: every sample of every bucket looked at.
double ScanFrame(const SampleStore& store, std::int64_t from, std::int64_t to, int buckets) {
    double sink = 0;
    for (int c = 0; c < store.ChannelCount(); ++c) {
        const std::size_t n = store.Count(c);
        std::size_t i = 0;
        while (i < n && store.At(c, i).timeUs < from) ++i;
        const double width = double(to - from + 1) / buckets;
        double lo = std::numeric_limits<double>::max(), hi = -lo;
        int bucket = 0;
        for (; i < n && store.At(c, i).timeUs <= to; ++i) {
            const SampleStore::Sample s = store.At(c, i);
            const int b = int((s.timeUs - from) / width);
            if (b != bucket) {
                sink += lo + hi;
                lo = std::numeric_limits<double>::max(), hi = -lo;
                bucket = b;
            }
            lo = std::min(lo, s.value);
            hi = std::max(hi, s.value);
        }
        sink += lo + hi;
    }
    return sink;
}

// The thread's own CPU time, ms: on a loaded machine the wall clock also
// counts the time others had the CPU.
double CpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

struct Figures {
    double median = 0;  // wall-clock ms
    double worst = 0;
    double cpu = 0;  // CPU ms, median
};

template <typename Frame>
Figures Frames(int frames, Frame&& frame) {
    std::vector<double> ms, cpu;
    for (int i = 0; i < frames; ++i) {
        const auto start = Clock::now();
        const double cpuStart = CpuMs();
        frame();
        cpu.push_back(CpuMs() - cpuStart);
        ms.push_back(Seconds(start) * 1e3);
    }
    std::sort(ms.begin(), ms.end());
    std::sort(cpu.begin(), cpu.end());
    return {ms[ms.size() / 2], ms.back(), cpu[cpu.size() / 2]};
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t perChannel = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1'000'000;
    const int buckets = argc > 2 ? std::atoi(argv[2]) : 2000;
    const int frames = argc > 3 ? std::atoi(argv[3]) : 60;
    const int lines = 200'000;

    // Parsing.
    std::vector<std::string> csvLines, labelLines;
    for (int i = 0; i < 1000; ++i) {
        std::string csv, labels;
        for (int c = 0; c < kMaxChannels; ++c) {
            const std::string value = std::to_string(std::sin(i * 0.01 + c) * 1000);
            csv += (c ? "," : "") + value;
            labels += (c ? " ch" : "ch") + std::to_string(c) + ":" + value;
        }
        csvLines.push_back(csv + "\r\n");
        labelLines.push_back(labels + "\r\n");
    }
    for (const auto& [name, format, texts] :
         {std::tuple{"csv", SampleFormat::kCsv, &csvLines}, std::tuple{"labels", SampleFormat::kLabels, &labelLines}}) {
        SampleParser parser(format);
        std::vector<ChannelValue> out;
        const auto start = Clock::now();
        for (int i = 0; i < lines; ++i) parser.Parse((*texts)[i % texts->size()], out);
        std::printf("parse %-6s: %.0f lines/s (16 values each), %llu parsed\n", name, lines / Seconds(start),
                    static_cast<unsigned long long>(parser.Parsed()));
    }

    // The store, filled as 16-channel messages at 1 ms apart.
    const long rssBefore = RssKiB();
    SampleStore store(perChannel);
    const std::int64_t t0 = 1'765'298'461'000'000;
    std::vector<ChannelValue> message(kMaxChannels);
    const std::size_t total = store.Capacity();
    auto start = Clock::now();
    for (std::size_t i = 0; i < total; ++i) {
        for (int c = 0; c < kMaxChannels; ++c) message[c] = {c, std::sin(i * 0.001 * (c + 1)) * (c + 1)};
        store.Add(t0 + std::int64_t(i) * 1000, message);
    }
    const double fill = Seconds(start);
    std::printf("store: %zu samples x 16 channels added in %.2f s (%.1f M samples/s), RSS +%.1f MiB "
                "(%.1f MiB in huge pages)\n",
                total, fill, total * 16 / fill / 1e6, (RssKiB() - rssBefore) / 1024.0,
                MemoryKiB("/proc/self/smaps_rollup", "AnonHugePages:") / 1024.0);

    const auto [from, to] = store.TimeSpan();
    struct Range {
        const char* name;
        std::int64_t from, to;
    };
    const Range ranges[] = {{"whole", from, to},
                            {"a tenth", from + (to - from) * 4 / 10, from + (to - from) * 5 / 10},
                            {"1000 samples", to - 999 * 1000, to}};
    for (const Range& r : ranges) {
        const Figures blocks = Frames(frames, [&] {
            for (int c = 0; c < kMaxChannels; ++c) (void)store.Decimate(c, r.from, r.to, buckets);
        });
        const Figures scan = Frames(std::max(3, frames / 10), [&] {
            if (ScanFrame(store, r.from, r.to, buckets) == 42) std::puts("");
        });
        std::printf("decimate %-12s: 16 channels x %d buckets: %.2f ms CPU, %.2f ms wall median, %.2f ms "
                    "wall worst per frame (a plain scan: %.2f ms CPU)\n",
                    r.name, buckets, blocks.cpu, blocks.median, blocks.worst, scan.cpu);
    }

    // The CSV, streamed and read back.
    char folder[] = "/tmp/tarvik-samples-bench-XXXXXX";
    if (!mkdtemp(folder)) return 1;
    const std::string file = std::string(folder) + "/samples.csv";
    const std::vector<std::string> names{"1", "2", "3", "4", "5", "6", "7", "8",
                                         "9", "10", "11", "12", "13", "14", "15", "16"};
    start = Clock::now();
    {
        SampleCsvWriter writer(file);
        for (int i = 0; i < lines; ++i) {
            for (int c = 0; c < kMaxChannels; ++c) message[c] = {c, std::sin(i * 0.001 * (c + 1)) * 1000};
            writer.Row(t0 + i * 1000, message, names);
        }
        writer.Finish();
    }
    const double write = Seconds(start);
    std::ifstream in(file, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    start = Clock::now();
    const SampleCsv back = ReadSampleCsv(text);
    std::printf("csv: %d rows x 16 written at %.0f rows/s (%.1f MB), read back at %.0f rows/s, %zu rows\n",
                lines, lines / write, text.size() / 1e6, lines / Seconds(start), back.rows.size());
    unlink(file.c_str());
    rmdir(folder);
    return 0;
}
