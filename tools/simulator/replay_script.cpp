#include "tools/simulator/replay_script.h"

#include <stdexcept>

#include "capture/capture_load.h"

namespace tarvik::sim {

using capture::RecordKind;

namespace {

// Records stand in the order they were handed over; a time a little before
// the one above it is no gap at all.
std::int64_t Gap(std::int64_t fromUs, std::int64_t toUs) {
    return toUs > fromUs ? toUs - fromUs : 0;
}

}  // namespace

std::vector<ReplayBlock> LoadReplay(const std::string& path, std::string* warning) {
    capture::LoadedCapture loaded = capture::LoadCapture(path);
    if (warning != nullptr)
        *warning = loaded.warning;
    const std::vector<capture::CaptureRecord>& records = loaded.records;
    std::vector<ReplayBlock> blocks;
    std::string request;
    std::int64_t requestUs = 0;
    std::int64_t previousUs = 0;
    for (const auto& record : records) {
        if (record.kind == RecordKind::kSent) {
            request += record.bytes;
            requestUs = record.time.monoUs;
        } else if (record.kind == RecordKind::kReceived) {
            blocks.push_back(
                {.bytes = record.bytes,
                 .request = std::move(request),
                 .sincePreviousUs = blocks.empty() ? 0 : Gap(previousUs, record.time.monoUs),
                 .sinceRequestUs = requestUs == 0 ? 0 : Gap(requestUs, record.time.monoUs)});
            request.clear();
            requestUs = 0;
            previousUs = record.time.monoUs;
        }
    }
    if (blocks.empty())
        throw std::runtime_error(path + ": the capture holds no received block to play");
    return blocks;
}

}  // namespace tarvik::sim
