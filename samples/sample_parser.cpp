#include "samples/sample_parser.h"

#include <charconv>
#include <cmath>
#include <utility>

namespace samples {
namespace {

enum class Field { kEmpty, kValue, kRefused, kText };

bool IsSeparator(char c) { return c == ',' || c == '\t' || c == ' '; }

// The fields of a line: a comma or a tab ends a field, and so does a run of
// spaces; spaces around a comma or a tab belong to it. A separator at the end
// opens no field.
template <typename OnField>
void ForEachField(std::string_view line, OnField&& onField) {
    std::size_t at = line.find_first_not_of(' ');
    while (at != std::string_view::npos && at < line.size()) {
        std::size_t end = at;
        while (end < line.size() && !IsSeparator(line[end])) ++end;
        onField(line.substr(at, end - at));
        at = end;
        while (at < line.size() && line[at] == ' ') ++at;
        if (at < line.size() && (line[at] == ',' || line[at] == '\t')) {
            ++at;
            while (at < line.size() && line[at] == ' ') ++at;
        }
    }
}

// The power of ten of a number's leading digit, from its text, for telling a
// number too small for a double from one too large.
long DecimalMagnitude(std::string_view text) {
    std::size_t at = 0;
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) ++at;
    long integerDigits = 0;
    long fractionZeros = 0;
    bool significant = false;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        if (text[at] != '0') significant = true;
        if (significant) ++integerDigits;
    }
    if (at < text.size() && text[at] == '.') {
        for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
            if (!significant && text[at] == '0') ++fractionZeros;
            if (text[at] != '0') significant = true;
        }
    }
    long exponent = 0;
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        ++at;
        bool negative = at < text.size() && text[at] == '-';
        if (at < text.size() && (text[at] == '-' || text[at] == '+')) ++at;
        for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
            if (exponent < 100'000) exponent = exponent * 10 + (text[at] - '0');
        }
        if (negative) exponent = -exponent;
    }
    return integerDigits > 0 ? exponent + integerDigits - 1 : exponent - fractionZeros - 1;
}

Field ReadNumber(std::string_view text, double& value) {
    if (text.empty()) return Field::kEmpty;
    std::string_view digits = text;
    if (digits.front() == '+') digits.remove_prefix(1);
    if (digits.empty() || (digits.front() == '-' && text.front() == '+')) return Field::kText;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value,
                                              std::chars_format::general);
    if (end != digits.data() + digits.size()) return Field::kText;
    if (error == std::errc::result_out_of_range) {
        if (DecimalMagnitude(digits) >= 0) return Field::kRefused;
        value = digits.front() == '-' ? -0.0 : 0.0;
        return Field::kValue;
    }
    if (error != std::errc()) return Field::kText;
    return std::isfinite(value) ? Field::kValue : Field::kRefused;
}

std::string_view StripLineEnd(std::string_view message) {
    if (!message.empty() && message.back() == '\n') message.remove_suffix(1);
    if (!message.empty() && message.back() == '\r') message.remove_suffix(1);
    while (!message.empty() && message.back() == ' ') message.remove_suffix(1);
    return message;
}

}  // namespace

SampleParser::SampleParser(SampleFormat format) : format_(format) {}

bool SampleParser::Parse(std::string_view message, std::vector<ChannelValue>& out) {
    out.clear();
    const std::string_view line = StripLineEnd(message);
    const bool gave = format_ == SampleFormat::kLabels ? ParseLabels(line, out) : ParseCsv(line, out);
    if (gave) {
        ++parsed_;
    } else {
        ++skipped_;
    }
    return gave;
}

void SampleParser::NameChannelsUpTo(int count) {
    while (static_cast<int>(names_.size()) < count && names_.size() < kMaxChannels) {
        names_.push_back(std::to_string(names_.size() + 1));
    }
}

bool SampleParser::ParseCsv(std::string_view line, std::vector<ChannelValue>& out) {
    int fields = 0;
    bool text = false;
    std::uint64_t refused = 0;
    std::vector<std::string> words;
    ForEachField(line, [&](std::string_view field) {
        double value = 0;
        switch (ReadNumber(field, value)) {
            case Field::kEmpty:
                break;
            case Field::kValue:
                if (fields < kMaxChannels) {
                    out.push_back({fields, value});
                } else {
                    ++refused;
                }
                break;
            case Field::kRefused:
                ++refused;
                break;
            case Field::kText:
                text = true;
                break;
        }
        if (!sawData_) words.emplace_back(field);
        ++fields;
    });
    if (text) {
        out.clear();
        if (!sawData_ && fields > 0) {
            candidate_ = std::move(words);
        }
        return false;
    }
    if (out.empty()) return false;
    if (!sawData_) {
        sawData_ = true;
        if (!candidate_.empty() && static_cast<int>(candidate_.size()) == fields) {
            // The header was counted as a skipped line when it came.
            --skipped_;
            for (std::size_t i = 0; i < candidate_.size() && i < kMaxChannels; ++i) {
                names_.push_back(candidate_[i].empty() ? std::to_string(i + 1) : candidate_[i]);
            }
        }
        candidate_.clear();
        candidate_.shrink_to_fit();
    }
    NameChannelsUpTo(out.back().channel + 1);
    skippedValues_ += refused;
    return true;
}

bool SampleParser::ParseLabels(std::string_view line, std::vector<ChannelValue>& out) {
    std::uint64_t refused = 0;
    const auto take = [&](std::string_view label, double value) {
        int channel = 0;
        while (channel < static_cast<int>(names_.size()) && names_[channel] != label) ++channel;
        if (channel == static_cast<int>(names_.size())) {
            if (channel == kMaxChannels) {
                ++refused;
                return;
            }
            names_.emplace_back(label);
        }
        out.push_back({channel, value});
    };
    // "label: value", a space after the colon, is one pair too.
    std::string_view dangling;
    ForEachField(line, [&](std::string_view field) {
        double value = 0;
        if (!dangling.empty()) {
            const Field read = ReadNumber(field, value);
            const std::string_view label = std::exchange(dangling, {});
            if (read == Field::kValue) {
                take(label, value);
                return;
            }
            ++refused;
            if (read == Field::kRefused) return;
        }
        if (field.empty()) return;
        const std::size_t colon = field.rfind(':');
        if (colon != std::string_view::npos && colon > 0 && colon + 1 == field.size()) {
            dangling = field.substr(0, colon);
            return;
        }
        if (colon == std::string_view::npos || colon == 0 ||
            ReadNumber(field.substr(colon + 1), value) != Field::kValue) {
            ++refused;
            return;
        }
        take(field.substr(0, colon), value);
    });
    if (!dangling.empty()) ++refused;
    if (out.empty()) return false;
    skippedValues_ += refused;
    return true;
}

}  // namespace samples
