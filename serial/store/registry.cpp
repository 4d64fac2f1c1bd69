#include "serial/store/registry.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace cport {

namespace {

constexpr const char* kFolder = "tarvik2";
constexpr const char* kFileName = "registry.sqlite";

std::filesystem::path HomeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    // Without HOME (a service, a cron job) the password database still knows.
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir)
        return found->pw_dir;
    throw ERegistryException("Cannot find the home folder for the registry store");
}

std::filesystem::path UserConfigFolder() {
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/')
        return config;
    return HomeFolder() / ".config";
}

std::filesystem::path SystemConfigFolder() {
    if (const char* dirs = std::getenv("XDG_CONFIG_DIRS"); dirs) {
        std::string_view list(dirs);
        while (!list.empty()) {
            auto colon = list.find(':');
            std::string_view entry = list.substr(0, colon);
            if (entry.starts_with('/'))
                return std::filesystem::path(std::string(entry));
            list.remove_prefix(colon == std::string_view::npos ? list.size() : colon + 1);
        }
    }
    return "/etc/xdg";
}

std::string LittleEndian(std::uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i));
    return bytes;
}

}  // namespace

std::filesystem::path DefaultRegistryFile(TRegistryRoot root) {
    std::filesystem::path folder =
        root == TRegistryRoot::kCurrentUser ? UserConfigFolder() : SystemConfigFolder();
    return folder / kFolder / kFileName;
}

TRegistry::TRegistry(TRegistryRoot root) : file_(DefaultRegistryFile(root)) {}

TRegistry::TRegistry(std::filesystem::path storeFile) : file_(std::move(storeFile)) {}

TRegistry::~TRegistry() = default;

TKeyValueStore* TRegistry::Store(bool writable, bool create) {
    if (store_ && store_->Writable() == writable)
        return store_.get();
    store_.reset();
    if (!create && !std::filesystem::exists(file_))
        return nullptr;
    store_ = std::make_unique<TKeyValueStore>(file_, writable);
    return store_.get();
}

bool TRegistry::Open(std::string_view key, bool writable, bool canCreate) {
    CloseKey();
    TKeyValueStore* store = Store(writable, canCreate);
    if (!store)
        return false;
    if (!store->KeyExists(key)) {
        if (!canCreate)
            return false;
        store->CreateKey(key);
    }
    values_ = store->ReadValues(key);
    path_ = TKeyValueStore::NormalizeKey(key);
    keyOpen_ = true;
    return true;
}

bool TRegistry::OpenKey(std::string_view key, bool canCreate) {
    return Open(key, true, canCreate);
}

bool TRegistry::OpenKeyReadOnly(std::string_view key) {
    return Open(key, false, false);
}

void TRegistry::CloseKey() {
    keyOpen_ = false;
    path_.clear();
    values_.clear();
}

bool TRegistry::KeyExists(std::string_view key) {
    TKeyValueStore* store = Store(store_ ? store_->Writable() : false, false);
    return store && store->KeyExists(key);
}

bool TRegistry::ValueExists(std::string_view name) const {
    return values_.contains(name);
}

TRegType TRegistry::GetDataType(std::string_view name) const {
    auto found = values_.find(name);
    return found == values_.end() ? TRegType::kNone : found->second.type;
}

void TRegistry::Write(std::string_view name, TRegType type, std::string data) {
    if (!keyOpen_ || !store_)
        throw ERegistryException::ForValue(kRegSetDataFailed, name, "no key is open");
    if (!store_->Writable())
        throw ERegistryException::ForValue(kRegSetDataFailed, name,
                                           "the key is open for reading only");
    TRegValue value{type, std::move(data)};
    try {
        store_->WriteValue(path_, name, value);
    } catch (const ERegistryException& error) {
        throw ERegistryException::ForValue(kRegSetDataFailed, name, error.Detail());
    }
    values_.insert_or_assign(tarvik::Text(name), std::move(value));
}

void TRegistry::WriteString(std::string_view name, std::string_view value) {
    Write(name, TRegType::kString, std::string(value) + '\0');
}

void TRegistry::WriteExpandString(std::string_view name, std::string_view value) {
    Write(name, TRegType::kExpandString, std::string(value) + '\0');
}

void TRegistry::WriteInteger(std::string_view name, std::int32_t value) {
    Write(name, TRegType::kInteger, LittleEndian(static_cast<std::uint32_t>(value)));
}

void TRegistry::WriteBinaryData(std::string_view name, std::string_view bytes) {
    Write(name, TRegType::kBinary, std::string(bytes));
}

tarvik::Text TRegistry::ReadString(std::string_view name) const {
    // Without a key there is nothing to be absent from: an empty text here
    // would quietly wipe the settings of a caller that forgot OpenKey.
    if (!keyOpen_)
        throw ERegistryException::ForValue(kRegGetDataFailed, name, "no key is open");
    auto found = values_.find(name);
    if (found == values_.end() || found->second.data.empty())
        return {};
    const TRegValue& value = found->second;
    if (value.type != TRegType::kString && value.type != TRegType::kExpandString)
        throw ERegistryException::ForValue(kRegInvalidDataType, name);
    return value.data.substr(0, value.data.find('\0'));
}

std::int32_t TRegistry::ReadInteger(std::string_view name) const {
    if (!keyOpen_)
        throw ERegistryException::ForValue(kRegGetDataFailed, name, "no key is open");
    auto found = values_.find(name);
    if (found == values_.end() || found->second.data.size() > 4)
        throw ERegistryException::ForValue(kRegGetDataFailed, name);
    const TRegValue& value = found->second;
    if (value.type != TRegType::kInteger)
        throw ERegistryException::ForValue(kRegInvalidDataType, name);
    // A shorter value is taken as its low bytes.
    std::uint32_t number = 0;
    for (std::size_t i = 0; i < value.data.size(); ++i)
        number |= static_cast<std::uint32_t>(static_cast<unsigned char>(value.data[i])) << (8 * i);
    return static_cast<std::int32_t>(number);
}

}  // namespace cport
