#include "samples/sample_store.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
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

// A curve reads a few samples a page apart, a page per bucket: with 4 KiB
// pages most of its time went to address translation. Where the kernel hands
// out huge pages only when asked (Debian's default), ask for the rings.
void AskForHugePages(const void* data, std::size_t bytes) {
    constexpr std::uintptr_t kHuge = std::uintptr_t(2) << 20;
    const auto start = (reinterpret_cast<std::uintptr_t>(data) + kHuge - 1) & ~(kHuge - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(kHuge - 1);
    if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
}

std::size_t WholeBlocks(std::size_t samples) {
    return std::max<std::size_t>(1, (samples + kBlock - 1) / kBlock) * kBlock;
}

}  // namespace

SampleStore::SampleStore(std::size_t perChannel) : capacity_(WholeBlocks(perChannel)) {}
SampleStore::~SampleStore() = default;
SampleStore::SampleStore(SampleStore&&) noexcept = default;
SampleStore& SampleStore::operator=(SampleStore&&) noexcept = default;

void SampleStore::Add(std::int64_t timeUs, std::span<const ChannelValue> values) {
    if (values.empty()) return;
    if (lastMessageUs_ && timeUs <= *lastMessageUs_) timeUs = *lastMessageUs_ + 1;
    lastMessageUs_ = timeUs;
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
            AskForHugePages(c.times.data(), capacity_ * sizeof(std::int64_t));
            AskForHugePages(c.values.data(), capacity_ * sizeof(double));
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

// Sample numbers to ring places without a division per step.
struct Places {
    std::uint64_t begin;
    std::size_t beginPlace;
    std::size_t capacity;

    std::size_t Of(std::uint64_t n) const {
        std::size_t place = beginPlace + static_cast<std::size_t>(n - begin);
        return place >= capacity ? place - capacity : place;
    }
};

// The number of the first sample at or after `timeUs` within [from, to)
// (`to` when there is none), searched outwards from `guess` in growing steps:
// a curve's next bucket boundary lies about as far on as the last one did,
// so a good guess costs two reads, and a bad one no more than a binary search.
std::uint64_t FirstAtOrAfter(const std::vector<std::int64_t>& times, const Places& places,
                             std::uint64_t from, std::uint64_t to, __int128 timeUs,
                             std::uint64_t guess) {
    const auto before = [&](std::uint64_t n) { return times[places.Of(n)] < timeUs; };
    guess = std::clamp(guess, from, to);
    std::uint64_t lo = from;
    std::uint64_t hi = to;
    if (guess < to && before(guess)) {
        // After the guess: [lo, hi] holds the answer.
        std::uint64_t step = 1;
        lo = guess + 1;
        while (lo + step - 1 < to && before(lo + step - 1)) {
            lo += step;
            step *= 2;
        }
        hi = std::min(to, lo + step - 1);
    } else {
        // At or before the guess.
        std::uint64_t step = 1;
        hi = guess;
        while (hi >= from + step && !before(hi - step)) {
            hi -= step;
            step *= 2;
        }
        lo = hi >= from + step ? hi - step + 1 : from;
    }
    while (lo < hi) {
        const std::uint64_t mid = lo + (hi - lo) / 2;
        if (before(mid)) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return lo;
}

}  // namespace

// The least and greatest value of the ring's places [from, to): single
// samples up to a block's start and after the last whole block, the blocks'
// own between. The ring's places and the sample numbers share block starts.
void SampleStore::MinMax(const Channel& c, std::size_t from, std::size_t to, Bucket& b) {
    double lo = b.min;
    double hi = b.max;
    std::size_t at = from;
    const std::size_t blocksFrom = std::min(to, (from + kBlock - 1) / kBlock * kBlock);
    for (; at < blocksFrom; ++at) {
        lo = std::min(lo, c.values[at]);
        hi = std::max(hi, c.values[at]);
    }
    for (; at + kBlock <= to; at += kBlock) {
        lo = std::min(lo, c.blockMin[at / kBlock]);
        hi = std::max(hi, c.blockMax[at / kBlock]);
    }
    for (; at < to; ++at) {
        lo = std::min(lo, c.values[at]);
        hi = std::max(hi, c.values[at]);
    }
    b.min = lo;
    b.max = hi;
}

std::vector<SampleStore::Bucket> SampleStore::Decimate(int channel, std::int64_t fromUs,
                                                       std::int64_t toUs, int buckets) const {
    std::vector<Bucket> out;
    const Channel* c = Find(channel);
    if (!c || c->Count() == 0 || buckets <= 0 || toUs < fromUs) return out;
    const std::vector<std::int64_t>& times = c->times;
    const std::vector<double>& values = c->values;
    const std::size_t cap = capacity_;
    const Places places{c->begin, static_cast<std::size_t>(c->begin % cap), cap};
    const __int128 span = static_cast<__int128>(toUs) - fromUs + 1;
    std::uint64_t lo = FirstAtOrAfter(times, places, c->begin, c->end, fromUs, c->begin);
    std::uint64_t lastCount = 1;
    for (int k = 0; k < buckets && lo < c->end; ++k) {
        // Bucket k holds the times from fromUs + span*k/buckets on, up to the next one's.
        const __int128 next = fromUs + span * (k + 1) / buckets;
        if (times[places.Of(lo)] >= next) continue;
        const std::uint64_t hi = FirstAtOrAfter(times, places, lo, c->end, next, lo + lastCount);
        lastCount = hi - lo;
        const std::size_t first = places.Of(lo);
        const std::size_t last = places.Of(hi - 1);
        Bucket b{times[first], times[last], values[first], values[first], values[first], values[last]};
        // The samples lie in one run of the ring or, across its seam, in two.
        if (first <= last) {
            MinMax(*c, first, last + 1, b);
        } else {
            MinMax(*c, first, cap, b);
            MinMax(*c, 0, last + 1, b);
        }
        out.push_back(b);
        lo = hi;
    }
    return out;
}

std::optional<std::pair<std::int64_t, double>> SampleStore::Nearest(int channel,
                                                                    std::int64_t timeUs) const {
    const Channel* c = Find(channel);
    if (!c || c->Count() == 0) return std::nullopt;
    const Places places{c->begin, static_cast<std::size_t>(c->begin % capacity_), capacity_};
    std::uint64_t n = FirstAtOrAfter(c->times, places, c->begin, c->end, timeUs, c->begin);
    if (n == c->end || (n > c->begin && static_cast<__int128>(timeUs) - c->times[places.Of(n - 1)] <=
                                            static_cast<__int128>(c->times[places.Of(n)]) - timeUs)) {
        --n;
    }
    return std::pair{c->times[places.Of(n)], c->values[places.Of(n)]};
}

void SampleStore::Clear() {
    channels_.clear();
    lastMessageUs_.reset();
}

}  // namespace samples
