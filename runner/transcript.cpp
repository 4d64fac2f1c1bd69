#include "runner/transcript.h"

#include <chrono>
#include <ctime>

#include "codec/fun.h"

namespace tarvik::runner {

namespace {

// The window's "time of day" stamp: local "hh:mm:ss.mmm ".
std::string TimeOfDay(const Stamp& at) {
    const auto seconds = static_cast<std::time_t>(at.wallUs / 1'000'000);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d ", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<int>(at.wallUs % 1'000'000 / 1000));
    return text;
}

std::string Block(std::string_view bytes, bool ascii) {
    return fun::BytesToDisplay(bytes, ascii) + " (" + std::to_string(bytes.size()) + ")";
}

}  // namespace

Stamp NowStamp() {
    using std::chrono::duration_cast;
    using std::chrono::microseconds;
    return {
        duration_cast<microseconds>(std::chrono::steady_clock::now().time_since_epoch()).count(),
        duration_cast<microseconds>(std::chrono::system_clock::now().time_since_epoch()).count()};
}

std::string ReceivedLine(std::string_view bytes, const Stamp& at, bool ascii) {
    return TimeOfDay(at) + Block(bytes, ascii);
}

std::string SentLine(std::string_view bytes, const Stamp& at, bool ascii) {
    return TimeOfDay(at) + ">> " + Block(bytes, ascii);
}

std::string EventLine(std::string_view what, const Stamp& at) {
    return TimeOfDay(at) + "== " + std::string(what);
}

void Transcript::Write(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
}

}  // namespace tarvik::runner
