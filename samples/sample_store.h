#pragma once
// The samples of up to 16 channels, each in a ring of its own: when a channel
// is full its oldest samples leave first (counted in Dropped()). Times are µs
// (the wall-clock arrival time, which the device layer never lets go
// backwards); a time earlier than the channel's last is taken as the last, so
// every channel stays in time order and can be searched. Two messages at the
// same µs (one read that held both) are kept 1 µs apart, so that an export
// gives each message a row of its own rather than merging their values.
//
// Decimate() gives a view its curve in one pass per bucket: a binary search
// finds each bucket's samples, and blocks of kBlockSamples keep their minimum
// and maximum, so a bucket over many samples reads its blocks, not each sample.
//
// Main thread only (the owner's thread): no locking inside.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "samples/sample_parser.h"

namespace samples {

inline constexpr std::size_t kDefaultSamplesPerChannel = 1'000'000;

class SampleStore {
  public:
    // `perChannel` is rounded up to a whole number of blocks (at least one).
    explicit SampleStore(std::size_t perChannel = kDefaultSamplesPerChannel);
    ~SampleStore();
    SampleStore(SampleStore&&) noexcept;
    SampleStore& operator=(SampleStore&&) noexcept;

    // The values of one message, all at `timeUs`. Channels outside
    // 0 .. kMaxChannels - 1 are ignored.
    void Add(std::int64_t timeUs, std::span<const ChannelValue> values);

    // One more than the highest channel that ever got a value (since Clear()).
    int ChannelCount() const;
    std::size_t Capacity() const;                // samples each channel keeps
    std::size_t Count(int channel) const;        // samples it holds now
    std::uint64_t Dropped(int channel) const;    // samples that left it, oldest first
    // The earliest and the latest time held in any channel; {0, 0} when empty.
    std::pair<std::int64_t, std::int64_t> TimeSpan() const;

    struct Sample {
        std::int64_t timeUs;
        double value;
        friend bool operator==(const Sample&, const Sample&) = default;
    };
    // The channel's `index`-th sample held now, oldest first (index < Count()).
    Sample At(int channel, std::size_t index) const;

    // What one bucket of a decimated curve holds: its first and last sample's
    // times and values, and the least and greatest value between.
    struct Bucket {
        std::int64_t first_us, last_us;
        double min, max, first, last;
    };
    // The channel's samples from `fromUs` to `toUs` (both included) cut into
    // `buckets` equal spans of time; only spans holding a sample give a
    // Bucket, in time order. Empty when the range or `buckets` is empty.
    std::vector<Bucket> Decimate(int channel, std::int64_t fromUs, std::int64_t toUs,
                                 int buckets) const;

    // The sample nearest in time to `timeUs` (the earlier one on a tie).
    std::optional<std::pair<std::int64_t, double>> Nearest(int channel, std::int64_t timeUs) const;

    // Forgets every sample and count; the capacity stays.
    void Clear();

    // Samples per min/max block.
    static constexpr std::size_t kBlockSamples = 64;

  private:
    struct Channel;
    const Channel* Find(int channel) const;
    static void MinMax(const Channel& c, std::size_t from, std::size_t to, Bucket& b);

    std::size_t capacity_;
    std::vector<Channel> channels_;
    std::optional<std::int64_t> lastMessageUs_;
};

}  // namespace samples
