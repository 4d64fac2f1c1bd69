#pragma once
// ERegistryException: every failure of the registry object and of the store
// behind it. Thrown by value, caught by reference; any thread.

#include <stdexcept>
#include <string>
#include <string_view>

namespace cport {

// The registry object's own messages; each names the value with "%s".
inline constexpr const char* kRegSetDataFailed = "Failed to set data for '%s'";
inline constexpr const char* kRegGetDataFailed = "Failed to get data for '%s'";
inline constexpr const char* kRegInvalidDataType = "Invalid data type for '%s'";

class ERegistryException : public std::runtime_error {
  public:
    // message: UTF-8, used as it is.
    explicit ERegistryException(const std::string& message, std::string detail = {});

    // One of the formats above, translated, with the value name (Latin-1,
    // widened) in place of "%s".
    static ERegistryException ForValue(const char* format, std::string_view name,
                                       std::string detail = {});

    // What the store itself said about the failure ("attempt to write a
    // readonly database"), or empty; the message keeps its fixed wording.
    const std::string& Detail() const { return detail_; }

  private:
    std::string detail_;
};

}  // namespace cport
