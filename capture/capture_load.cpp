#include "capture/capture_load.h"

#include <stdexcept>

namespace tarvik::capture {

namespace {

FileBound CaptureBound(std::uint64_t maxBytes) {
    return {.maxBytes = static_cast<std::size_t>(maxBytes), .what = "a capture may hold here"};
}

}  // namespace

CaptureFile::CaptureFile(const std::string& path, std::uint64_t maxBytes,
                         std::size_t maxLineBytes)
    : file_(path, CaptureBound(maxBytes)), parser_(maxLineBytes) {}

void CaptureFile::Refuse(const ECaptureFormat& error) const {
    throw std::runtime_error(file_.FileName() + ": " + error.what());
}

LoadedCapture LoadCapture(const std::string& path, std::uint64_t maxBytes) {
    LoadedCapture loaded;
    CaptureFile file(path, maxBytes);
    file.ForEach([&](CaptureRecord&& record) { loaded.records.push_back(std::move(record)); });
    loaded.warning = file.Warning();
    return loaded;
}

}  // namespace tarvik::capture
