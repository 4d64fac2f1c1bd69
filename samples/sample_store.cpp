#include "samples/sample_store.h"

#include <algorithm>
#include <limits>

namespace samples {

// Sample number `n` (counted from the first since Clear()) sits at n % capacity,
// and its block's minimum and maximum at (n / kBlockSamples) % blocks: the
// capacity is a whole number of blocks, so a block never straddles the ring's
// seam. A block wholly inside the samples held holds none that left.
struct SampleStore::Channel {
    std::vector<std::int64_t> times;
    std::vector<double> values;
    std::vector<double> blockMin;
    std::vector<double> blockMax;
    std::uint64_t begin = 0;  // number of the oldest sample held
    std::uint64_t end = 0;    // number the next sample gets

    std::size_t capacity = 0;

    std::size_t Count() const { return static_cast<std::size_t>(end - begin); }
    std::int64_t TimeOf(std::uint64_t n) const { return times[n % capacity]; }
};

namespace {

constexpr std::size_t kBlock = SampleStore::kBlockSamples;

std::size_t WholeBlocks(std::size_t samples) {
    return std::max<std::size_t>(1, (samples + kBlock - 1) / kBlock) * kBlock;
}

}  // namespace

SampleStore::SampleStore(std::size_t perChannel) : capacity_(WholeBlocks(perChannel)) {}
SampleStore::~SampleStore() = default;
SampleStore::SampleStore(SampleStore&&) noexcept = default;
SampleStore& SampleStore::operator=(SampleStore&&) noexcept = default;

void SampleStore::Add(std::int64_t timeUs, std::span<const ChannelValue> values) {
    for (const ChannelValue& v : values) {
        if (v.channel < 0 || v.channel >= kMaxChannels) continue;
        if (static_cast<std::size_t>(v.channel) >= channels_.size()) channels_.resize(v.channel + 1);
        Channel& c = channels_[v.channel];
        if (c.capacity != capacity_) {
            c.capacity = capacity_;
            // Reserved once: the ring's index needs the capacity; the memory
            // itself is touched only as samples come.
            c.times.reserve(capacity_);
            c.values.reserve(capacity_);
            c.blockMin.reserve(capacity_ / kBlock);
            c.blockMax.reserve(capacity_ / kBlock);
        }
        const std::int64_t time = c.Count() > 0 ? std::max(timeUs, c.TimeOf(c.end - 1)) : timeUs;
        if (c.Count() == capacity_) ++c.begin;
        const std::size_t slot = static_cast<std::size_t>(c.end % capacity_);
        if (slot == c.times.size()) {
            c.times.push_back(time);
            c.values.push_back(v.value);
        } else {
            c.times[slot] = time;
            c.values[slot] = v.value;
        }
        const std::size_t block = slot / kBlock;
        if (c.end % kBlock == 0) {
            if (block == c.blockMin.size()) {
                c.blockMin.push_back(v.value);
                c.blockMax.push_back(v.value);
            } else {
                c.blockMin[block] = c.blockMax[block] = v.value;
            }
        } else {
            c.blockMin[block] = std::min(c.blockMin[block], v.value);
            c.blockMax[block] = std::max(c.blockMax[block], v.value);
        }
        ++c.end;
    }
}

const SampleStore::Channel* SampleStore::Find(int channel) const {
    if (channel < 0 || static_cast<std::size_t>(channel) >= channels_.size()) return nullptr;
    return &channels_[channel];
}

int SampleStore::ChannelCount() const { return static_cast<int>(channels_.size()); }

std::size_t SampleStore::Capacity() const { return capacity_; }

std::size_t SampleStore::Count(int channel) const {
    const Channel* c = Find(channel);
    return c ? c->Count() : 0;
}

std::uint64_t SampleStore::Dropped(int channel) const {
    const Channel* c = Find(channel);
    return c ? c->begin : 0;
}

std::pair<std::int64_t, std::int64_t> SampleStore::TimeSpan() const {
    std::optional<std::pair<std::int64_t, std::int64_t>> span;
    for (const Channel& c : channels_) {
        if (c.Count() == 0) continue;
        const std::int64_t first = c.TimeOf(c.begin);
        const std::int64_t last = c.TimeOf(c.end - 1);
        span = span ? std::pair{std::min(span->first, first), std::max(span->second, last)}
                    : std::pair{first, last};
    }
    return span.value_or(std::pair<std::int64_t, std::int64_t>{0, 0});
}

SampleStore::Sample SampleStore::At(int channel, std::size_t index) const {
    const Channel& c = *Find(channel);
    const std::size_t slot = static_cast<std::size_t>((c.begin + index) % capacity_);
    return {c.times[slot], c.values[slot]};
}

namespace {

// The number of the first sample at or after `timeUs`, within [from, to).
std::uint64_t FirstAtOrAfter(const std::vector<std::int64_t>& times, std::size_t capacity,
                             std::uint64_t from, std::uint64_t to, __int128 timeUs) {
    while (from < to) {
        const std::uint64_t mid = from + (to - from) / 2;
        if (times[mid % capacity] < timeUs) {
            from = mid + 1;
        } else {
            to = mid;
        }
    }
    return from;
}

}  // namespace

std::vector<SampleStore::Bucket> SampleStore::Decimate(int channel, std::int64_t fromUs,
                                                       std::int64_t toUs, int buckets) const {
    std::vector<Bucket> out;
    const Channel* c = Find(channel);
    if (!c || c->Count() == 0 || buckets <= 0 || toUs < fromUs) return out;
    const std::vector<std::int64_t>& times = c->times;
    const std::vector<double>& values = c->values;
    const std::size_t cap = capacity_;
    const __int128 span = static_cast<__int128>(toUs) - fromUs + 1;
    std::uint64_t lo = FirstAtOrAfter(times, cap, c->begin, c->end, fromUs);
    for (int k = 0; k < buckets && lo < c->end; ++k) {
        // Bucket k holds the times from fromUs + span*k/buckets on, up to the next one's.
        const __int128 next = fromUs + span * (k + 1) / buckets;
        if (times[lo % cap] >= next) continue;
        const std::uint64_t hi = FirstAtOrAfter(times, cap, lo, c->end, next);
        Bucket b{times[lo % cap], times[(hi - 1) % cap], values[lo % cap], values[lo % cap],
                 values[lo % cap], values[(hi - 1) % cap]};
        auto take = [&](double v) {
            b.min = std::min(b.min, v);
            b.max = std::max(b.max, v);
        };
        std::uint64_t n = lo;
        for (; n < hi && n % kBlock != 0; ++n) take(values[n % cap]);
        for (; n + kBlock <= hi; n += kBlock) {
            const std::size_t block = static_cast<std::size_t>(n % cap) / kBlock;
            take(c->blockMin[block]);
            take(c->blockMax[block]);
        }
        for (; n < hi; ++n) take(values[n % cap]);
        out.push_back(b);
        lo = hi;
    }
    return out;
}

std::optional<std::pair<std::int64_t, double>> SampleStore::Nearest(int channel,
                                                                    std::int64_t timeUs) const {
    const Channel* c = Find(channel);
    if (!c || c->Count() == 0) return std::nullopt;
    const std::size_t cap = capacity_;
    std::uint64_t n = FirstAtOrAfter(c->times, cap, c->begin, c->end, timeUs);
    if (n == c->end ||
        (n > c->begin && timeUs - c->times[(n - 1) % cap] <= c->times[n % cap] - timeUs)) {
        --n;
    }
    return std::pair{c->times[n % cap], c->values[n % cap]};
}

void SampleStore::Clear() { channels_.clear(); }

}  // namespace samples
