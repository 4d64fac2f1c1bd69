#include "serial/store/registry_exception.h"

#include "base/text.h"
#include "base/translation.h"

namespace cport {

ERegistryException::ERegistryException(const std::string& message, std::string detail)
    : std::runtime_error(message), detail_(std::move(detail)) {}

ERegistryException ERegistryException::ForValue(const char* format, std::string_view name,
                                                std::string detail) {
    constexpr std::string_view kDirective = "%s";
    // A translation that lost its "%s" would hide the name: use the English form.
    std::string message = tarvik::TranslateResource(format);
    auto at = message.find(kDirective);
    if (at == std::string::npos) {
        message = format;
        at = message.find(kDirective);
    }
    message.replace(at, kDirective.size(), tarvik::Latin1ToUtf8(name));
    return ERegistryException(message, std::move(detail));
}

}  // namespace cport
