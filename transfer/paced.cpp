#include "transfer/paced.h"

#include <sys/prctl.h>

#include "transfer/files.h"
#include "transfer/transfer_error.h"

namespace tarvik::transfer {

namespace {
// As much as the line takes at once when no delay is asked for.
constexpr std::size_t kFastBlock = 65536;

// A paced line's pause is its whole point: while it runs, this thread's
// wake-ups come when asked, not up to the kernel's default 50 us later.
class PreciseWakeUps {
  public:
    PreciseWakeUps() : before_(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0)) {
        if (before_ > 1)
            prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    }
    ~PreciseWakeUps() {
        if (before_ > 1)
            prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(before_), 0, 0, 0);
    }
    PreciseWakeUps(const PreciseWakeUps&) = delete;
    PreciseWakeUps& operator=(const PreciseWakeUps&) = delete;

  private:
    const long before_;
};

Clock::time_point Later(Clock::time_point from, std::int64_t ms) {
    return from + std::chrono::milliseconds(ms);
}
}  // namespace

std::vector<std::string> SplitLines(std::string_view text, LineEnd lineEnd) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        const std::size_t lf = text.find('\n');
        const bool ended = lf != std::string_view::npos;
        std::string line(text.substr(0, ended ? lf + 1 : text.size()));
        text.remove_prefix(line.size());
        if (ended && lineEnd != LineEnd::kAsIs) {
            line.pop_back();
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            line += lineEnd == LineEnd::kCr ? "\r" : lineEnd == LineEnd::kLf ? "\n" : "\r\n";
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

bool FindPattern(const runner::Pattern& pattern, std::string& heard) {
    for (std::size_t start = 0; start + pattern.Size() <= heard.size(); ++start) {
        if (runner::Match(pattern, std::string_view(heard).substr(start)).state ==
            runner::MatchState::Matched) {
            heard.erase(0, start + pattern.Size());
            return true;
        }
    }
    return false;
}

void SendText(Channel& channel, const std::string& path, const TextOptions& options) {
    InputFile file(path);
    const std::string text = file.Read(static_cast<std::size_t>(file.Size()));
    file.CheckUnchanged();
    const std::vector<std::string> lines = SplitLines(text, options.lineEnd);
    Progress& figures = channel.Figures();
    figures.file = path.substr(path.rfind('/') + 1);
    std::uint64_t total = 0;
    for (const std::string& line : lines)
        total += line.size();
    figures.total = total;
    channel.Heard().clear();
    const PreciseWakeUps precise;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        // Only what answers this line counts for its prompt.
        channel.IdleUntil(Clock::now());
        channel.Heard().clear();
        if (options.charDelayMs > 0) {
            for (const char c : line) {
                channel.Write(std::string_view(&c, 1));
                channel.IdleUntil(After(options.charDelayMs));
            }
        } else {
            channel.Write(line);
        }
        // The pause counts from the line's end on the line, not from after
        // the progress report.
        const Clock::time_point written = Clock::now();
        figures.bytes += line.size();
        ++figures.blocks;
        channel.Meter().Update();
        if (options.lineDelayMs > 0)
            channel.IdleUntil(Later(written, options.lineDelayMs));
        if (options.waitFor) {
            const auto deadline = After(options.waitTimeoutMs);
            while (!FindPattern(*options.waitFor, channel.Heard())) {
                if (Clock::now() >= deadline)
                    throw ETransfer(TransferCode::kWaitFor,
                                    "No " + options.waitFor->text + " came within " +
                                        std::to_string(options.waitTimeoutMs) + " ms after line " +
                                        std::to_string(i + 1));
                channel.Listen(deadline);
            }
        }
    }
}

void SendRaw(Channel& channel, const std::string& path, const RawOptions& options) {
    InputFile file(path);
    Progress& figures = channel.Figures();
    figures.file = path.substr(path.rfind('/') + 1);
    figures.total = file.Size();
    const std::size_t block =
        options.blockDelayMs > 0 ? std::max<std::size_t>(options.blockBytes, 1) : kFastBlock;
    for (;;) {
        const std::string bytes = file.Read(block);
        if (bytes.empty())
            break;
        channel.Write(bytes);
        figures.bytes += bytes.size();
        ++figures.blocks;
        channel.Meter().Update();
        if (options.blockDelayMs > 0)
            channel.IdleUntil(After(options.blockDelayMs));
    }
    file.CheckUnchanged();
}

}  // namespace tarvik::transfer
