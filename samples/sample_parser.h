#pragma once
// Reads one received message (one line) as the values of up to 16 channels.
// Plain C++ without Qt, locale-independent (a decimal point, whatever the
// program's locale). Never throws on what a device sends: what cannot be read
// is skipped and counted. One parser belongs to one thread at a time.
//
// CSV: fields separated by a comma, a tab or a run of spaces (spaces around a
// comma or tab belong to it), so "1,,3" leaves the second channel without a
// value and trailing separators are ignored. A line is data when every field
// is a number or empty; the channel is the field's place. The last line before
// the first data line whose fields are not all numbers is a header candidate:
// it names the channels when it has as many fields as that data line (a banner
// such as "Sensor ready" does not); otherwise channels are named "1", "2", ….
// After the first data line, a line that is not all numbers is skipped.
//
// Labels: "label:value" fields separated as above (split at the last ':';
// "label: value" with spaces after the colon is a pair too); channels by
// label, numbered in the order the labels first appear. A field that is not
// label:number is a skipped value; a line without any value is skipped.
//
// Numbers: what std::from_chars reads in general form, with an optional '+'.
// NaN, infinities and numbers beyond a double's range (1e999) are refused as
// values: that channel gets no value from the line, the others keep theirs,
// and the refusal is counted in SkippedValues(). A number too small for a
// double (1e-999) reads as 0.
//
// Channels: at most kMaxChannels; the values of further fields (CSV) or of
// further labels are dropped and counted in SkippedValues().

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "samples/sample_format.h"

namespace samples {

inline constexpr int kMaxChannels = 16;

struct ChannelValue {
    int channel = 0;  // 0 .. kMaxChannels - 1
    double value = 0;
    friend bool operator==(const ChannelValue&, const ChannelValue&) = default;
};

class SampleParser {
  public:
    explicit SampleParser(SampleFormat format);

    SampleFormat Format() const { return format_; }

    // Replaces `out` with the message's values, in field order. False when the
    // message gave no value: counted in Skipped(), except a header candidate.
    // A trailing LF and CR are stripped.
    bool Parse(std::string_view message, std::vector<ChannelValue>& out);

    // The channels' names so far, index = channel.
    const std::vector<std::string>& ChannelNames() const { return names_; }

    std::uint64_t Parsed() const { return parsed_; }    // messages that gave values
    std::uint64_t Skipped() const { return skipped_; }  // messages that gave none
    // Values dropped from parsed messages: NaN, infinities, out of range, not
    // label:number, beyond kMaxChannels.
    std::uint64_t SkippedValues() const { return skippedValues_; }

  private:
    bool ParseCsv(std::string_view line, std::vector<ChannelValue>& out);
    bool ParseLabels(std::string_view line, std::vector<ChannelValue>& out);
    void NameChannelsUpTo(int count);

    SampleFormat format_;
    std::vector<std::string> names_;
    // CSV: the header candidate, until data comes.
    bool sawData_ = false;
    std::vector<std::string> candidate_;
    std::uint64_t parsed_ = 0;
    std::uint64_t skipped_ = 0;
    std::uint64_t skippedValues_ = 0;
};

}  // namespace samples
