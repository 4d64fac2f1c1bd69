#pragma once
// TRegistry: the registry object settings storage works with. It stands in
// for the Windows registry with a store file of typed values (see
// TKeyValueStore) and keeps the registry's rules for reading and writing
// them, errors included.
//
// The caller opens a key, then reads and writes values of that key. The
// values are read in one go when the key is opened, so a store that cannot
// be read is reported by OpenKey, before anything has been taken from it;
// reads then see the key as it was opened plus this object's own writes.
// Every write goes to the disk at once.
//
// One thread at a time.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string_view>

#include "base/text.h"
#include "serial/store/key_value_store.h"
#include "serial/store/registry_exception.h"

namespace cport {

// Whose store a registry object uses.
enum class TRegistryRoot : std::uint8_t {
    kCurrentUser,   // the user's own: $XDG_CONFIG_HOME/tarvik2/registry.sqlite
    kLocalMachine,  // the machine's: <first of $XDG_CONFIG_DIRS>/tarvik2/registry.sqlite
};

// Where the store of a root lies. $XDG_CONFIG_HOME defaults to ~/.config,
// $XDG_CONFIG_DIRS to /etc/xdg; relative entries are ignored, as the XDG
// rules say.
std::filesystem::path DefaultRegistryFile(TRegistryRoot root);

class TRegistry {
  public:
    // Uses the root's default store file; nothing is read before a key is opened.
    explicit TRegistry(TRegistryRoot root = TRegistryRoot::kCurrentUser);
    // Uses the given store file (tests, or a caller with a place of its own).
    explicit TRegistry(std::filesystem::path storeFile);
    ~TRegistry();
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    const std::filesystem::path& StoreFile() const { return file_; }

    // Opens key (a path from the root: "Software\Tarvik2\C1"; "\" and "/"
    // both separate, ASCII letter case does not matter) for reading and
    // writing. A missing key is created with its parents (and the store file
    // with its folders) when canCreate, else false is returned and nothing is
    // created. Throws ERegistryException when the store cannot be opened,
    // read, or is not a store of this program.
    bool OpenKey(std::string_view key, bool canCreate);
    // Opens an existing key so that every write fails; false when it or the
    // store file does not exist. Throws as OpenKey.
    bool OpenKeyReadOnly(std::string_view key);
    // Forgets the open key; until the next OpenKey every read and write fails.
    void CloseKey();
    bool HasCurrentKey() const { return keyOpen_; }
    // The open key's path, normalised ("Software\Tarvik2\C1").
    const tarvik::Text& CurrentPath() const { return path_; }

    bool KeyExists(std::string_view key);
    bool ValueExists(std::string_view name) const;
    // The value's type, or TRegType::kNone when it is absent.
    TRegType GetDataType(std::string_view name) const;

    // Writes the text and one NUL byte as a REG_SZ value. Throws
    // ERegistryException "Failed to set data for '<name>'".
    void WriteString(std::string_view name, std::string_view value);
    // The same as a REG_EXPAND_SZ value; nothing is ever expanded.
    void WriteExpandString(std::string_view name, std::string_view value);
    // Writes a 4-byte REG_DWORD value. Throws as WriteString.
    void WriteInteger(std::string_view name, std::int32_t value);
    // Writes the bytes as a REG_BINARY value. Throws as WriteString.
    void WriteBinaryData(std::string_view name, std::string_view bytes);

    // With no key open, throws ERegistryException "Failed to get data for
    // '<name>'". An absent or empty value gives the empty text; a REG_SZ or
    // REG_EXPAND_SZ value its text up to the first NUL; any other type
    // throws ERegistryException "Invalid data type for '<name>'".
    tarvik::Text ReadString(std::string_view name) const;
    // Throws ERegistryException "Failed to get data for '<name>'" when no
    // key is open or the value is absent or longer than 4 bytes, and
    // "Invalid data type for '<name>'" when it is not a REG_DWORD.
    std::int32_t ReadInteger(std::string_view name) const;

  private:
    // The store in the wanted mode, or nothing when its file does not exist
    // and may not be created.
    TKeyValueStore* Store(bool writable, bool create);
    bool Open(std::string_view key, bool writable, bool canCreate);
    void Write(std::string_view name, TRegType type, std::string data);

    std::filesystem::path file_;
    std::unique_ptr<TKeyValueStore> store_;
    bool keyOpen_ = false;
    tarvik::Text path_;
    TRegValues values_;
};

}  // namespace cport
