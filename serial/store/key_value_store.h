#pragma once
// TKeyValueStore: the file behind the registry object. A tree of keys (paths
// such as "Software\Tarvik2\C1"), each holding named values with a type
// number and raw bytes, kept in an SQLite database so that a program killed
// in the middle of a write leaves every value as it was before or after that
// write, never damaged.
//
// Key paths and value names are 8-bit texts; letter case does not matter for
// ASCII letters, as in the registry. One object is one connection; use it
// from one thread at a time. Other processes may use the same file: a
// writer waits up to kBusyWait for another one to finish.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>

#include "base/text.h"

struct sqlite3;

namespace cport {

// The type numbers of the registry, kept in the file as they are.
enum class TRegType : std::uint32_t {
    kNone = 0,
    kString = 1,        // REG_SZ: text and one NUL byte
    kExpandString = 2,  // REG_EXPAND_SZ
    kBinary = 3,        // REG_BINARY
    kInteger = 4,       // REG_DWORD: 4 bytes, little-endian
};

struct TRegValue {
    TRegType type = TRegType::kNone;
    std::string data;
};

// Orders names the way the store matches them: ASCII letter case ignored.
struct TRegNameLess {
    bool operator()(std::string_view a, std::string_view b) const;
    using is_transparent = void;
};

using TRegValues = std::map<tarvik::Text, TRegValue, TRegNameLess>;

class TKeyValueStore {
  public:
    static constexpr std::chrono::milliseconds kBusyWait{5000};

    // Opens the store. writable: for writing, creating the file and its
    // missing folders (mode 0700) when needed; otherwise read-only, and the
    // file must exist. Checks that the file is a store of this program and
    // undamaged. Throws ERegistryException naming the file.
    TKeyValueStore(std::filesystem::path file, bool writable);
    ~TKeyValueStore();
    TKeyValueStore(const TKeyValueStore&) = delete;
    TKeyValueStore& operator=(const TKeyValueStore&) = delete;

    const std::filesystem::path& File() const { return file_; }
    bool Writable() const { return writable_; }

    bool KeyExists(std::string_view path);
    // Creates the key and every key above it. Throws ERegistryException.
    void CreateKey(std::string_view path);
    // Every value of the key, read in one transaction. Throws ERegistryException.
    TRegValues ReadValues(std::string_view path);
    // Stores one value in its own transaction: afterwards it is on the disk.
    // Throws ERegistryException (read-only store, disk full, locked too long).
    void WriteValue(std::string_view path, std::string_view name, const TRegValue& value);

    // "Software\Tarvik2\C1" from "software/Tarvik2//C1\": "\" and "/"
    // separate, empty parts are dropped, case is kept.
    static tarvik::Text NormalizeKey(std::string_view path);

  private:
    class Statement;
    [[noreturn]] void Fail(const std::string& what) const;
    void Execute(const char* sql);
    void OpenAndCheck(int flags);
    void RollBackHotJournal();
    void CheckOrCreateSchema();

    std::filesystem::path file_;
    bool writable_;
    sqlite3* db_ = nullptr;
};

}  // namespace cport
