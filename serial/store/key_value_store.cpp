#include "serial/store/key_value_store.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "serial/store/registry_exception.h"
#include "serial/store/utf8_text.h"

namespace cport {

namespace {

// "TRV2": marks the file as ours, so a foreign database is refused rather
// than changed.
constexpr std::int32_t kApplicationId = 0x54525632;
constexpr std::int32_t kSchemaVersion = 1;

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// Folders the store needs, made private: the file holds a user's settings.
void CreateFolders(const std::filesystem::path& folder) {
    if (folder.empty() || std::filesystem::exists(folder))
        return;
    CreateFolders(folder.parent_path());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        throw ERegistryException("Cannot create the folder '" + folder.string() +
                                 "' for the registry store: " + std::strerror(errno));
    }
}

}  // namespace

bool TRegNameLess::operator()(std::string_view a, std::string_view b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return LowerAscii(x) < LowerAscii(y);
    });
}

// One prepared statement, finalised on every way out.
class TKeyValueStore::Statement {
  public:
    Statement(const TKeyValueStore& store, const char* sql) : store_(store) {
        if (sqlite3_prepare_v2(store.db_, sql, -1, &statement_, nullptr) != SQLITE_OK)
            store.Fail("cannot be read");
    }
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Names and paths are kept as UTF-8, so the file reads well in sqlite3.
    void BindName(int index, std::string_view latin1) {
        std::string utf8 = tarvik::Latin1ToUtf8(latin1);
        Check(sqlite3_bind_text(statement_, index, utf8.data(), static_cast<int>(utf8.size()),
                                SQLITE_TRANSIENT));
    }
    void BindBlob(int index, std::string_view bytes) {
        // An empty blob must not become NULL.
        if (bytes.empty()) {
            Check(sqlite3_bind_zeroblob(statement_, index, 0));
            return;
        }
        Check(sqlite3_bind_blob(statement_, index, bytes.data(), static_cast<int>(bytes.size()),
                                SQLITE_TRANSIENT));
    }
    void BindInt(int index, std::int64_t value) {
        Check(sqlite3_bind_int64(statement_, index, value));
    }
    // True while there is a row; false when done.
    bool Step(const char* what) {
        int result = sqlite3_step(statement_);
        if (result == SQLITE_ROW)
            return true;
        if (result != SQLITE_DONE)
            store_.Fail(what);
        return false;
    }
    void Reset() { sqlite3_reset(statement_); }
    std::int64_t Int(int column) const { return sqlite3_column_int64(statement_, column); }
    std::string Bytes(int column) const {
        const void* data = sqlite3_column_blob(statement_, column);
        int size = sqlite3_column_bytes(statement_, column);
        return data ? std::string(static_cast<const char*>(data), static_cast<std::size_t>(size))
                    : std::string();
    }
    tarvik::Text Name(int column) const {
        auto name = Utf8ToLatin1(Bytes(column));
        if (!name)
            store_.Fail("holds a name that is not Latin-1 text");
        return *name;
    }

  private:
    void Check(int result) {
        if (result != SQLITE_OK)
            store_.Fail("cannot be used");
    }

    const TKeyValueStore& store_;
    sqlite3_stmt* statement_ = nullptr;
};

TKeyValueStore::TKeyValueStore(std::filesystem::path file, bool writable)
    : file_(std::move(file)), writable_(writable) {
    if (writable_)
        CreateFolders(file_.parent_path());
    int flags = writable_ ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY;
    try {
        OpenAndCheck(flags);
    } catch (const ERegistryException&) {
        // A writer killed mid-transaction leaves a hot journal that a
        // read-only connection may not roll back; the store is whole once
        // it is, so a reader does that once through a writable connection.
        const bool hotJournal = !writable_ && db_ &&
                                sqlite3_extended_errcode(db_) == SQLITE_READONLY_ROLLBACK;
        sqlite3_close(db_);
        db_ = nullptr;
        if (!hotJournal)
            throw;
        RollBackHotJournal();
        try {
            OpenAndCheck(flags);
        } catch (...) {
            sqlite3_close(db_);
            throw;
        }
    }
}

void TKeyValueStore::OpenAndCheck(int flags) {
    int result = sqlite3_open_v2(file_.c_str(), &db_, flags, nullptr);
    if (result != SQLITE_OK)
        Fail("cannot be opened");
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, static_cast<int>(kBusyWait.count()));
    CheckOrCreateSchema();
}

void TKeyValueStore::RollBackHotJournal() {
    // Never creates the file: it exists, or the read that failed could not have.
    sqlite3* db = nullptr;
    int result = sqlite3_open_v2(file_.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    if (result == SQLITE_OK) {
        sqlite3_busy_timeout(db, static_cast<int>(kBusyWait.count()));
        result = sqlite3_exec(db, "SELECT count(*) FROM sqlite_schema", nullptr, nullptr, nullptr);
    }
    std::string detail = db ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close(db);
    if (result != SQLITE_OK) {
        throw ERegistryException("The registry store '" + file_.string() +
                                     "' holds an unfinished write that cannot be rolled back: " +
                                     detail,
                                 detail);
    }
}

TKeyValueStore::~TKeyValueStore() {
    sqlite3_close(db_);
}

void TKeyValueStore::Fail(const std::string& what) const {
    std::string detail = db_ ? sqlite3_errmsg(db_) : "out of memory";
    throw ERegistryException("The registry store '" + file_.string() + "' " + what + ": " + detail,
                             detail);
}

void TKeyValueStore::Execute(const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        sqlite3_free(error);
        Fail("cannot be used");
    }
}

void TKeyValueStore::CheckOrCreateSchema() {
    auto number = [&](const char* sql) {
        Statement query(*this, sql);
        return query.Step("cannot be read") ? query.Int(0) : 0;
    };
    std::int64_t tables = number("SELECT count(*) FROM sqlite_schema");
    std::int64_t id = number("PRAGMA application_id");
    if (tables == 0 && id == 0) {
        if (!writable_)
            throw ERegistryException("The registry store '" + file_.string() + "' is empty");
        // Two programs may create the same new store at once: the second
        // waits for the first and then finds the tables there.
        Execute("BEGIN IMMEDIATE");
        try {
            Execute(
                "CREATE TABLE IF NOT EXISTS keys ("
                "  path TEXT PRIMARY KEY COLLATE NOCASE);"
                "CREATE TABLE IF NOT EXISTS vals ("
                "  path TEXT NOT NULL COLLATE NOCASE,"
                "  name TEXT NOT NULL COLLATE NOCASE,"
                "  type INTEGER NOT NULL,"
                "  data BLOB NOT NULL,"
                "  PRIMARY KEY (path, name));"
                "INSERT OR IGNORE INTO keys VALUES ('');");
            Execute(("PRAGMA application_id = " + std::to_string(kApplicationId)).c_str());
            Execute(("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
            Execute("COMMIT");
        } catch (...) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
        return;
    }
    if (id != kApplicationId) {
        throw ERegistryException("The file '" + file_.string() +
                                 "' is not a registry store of this program");
    }
    if (number("PRAGMA user_version") > kSchemaVersion) {
        throw ERegistryException("The registry store '" + file_.string() +
                                 "' was written by a newer version of this program");
    }
    Statement check(*this, "PRAGMA quick_check");
    if (check.Step("cannot be checked") && check.Bytes(0) != "ok")
        throw ERegistryException("The registry store '" + file_.string() + "' is damaged");
}

tarvik::Text TKeyValueStore::NormalizeKey(std::string_view path) {
    tarvik::Text normal;
    while (!path.empty()) {
        auto end = std::find_if(path.begin(), path.end(), IsSeparator);
        std::string_view part(path.begin(), end);
        if (!part.empty()) {
            if (!normal.empty())
                normal += '\\';
            normal += part;
        }
        path.remove_prefix(part.size() + (end == path.end() ? 0 : 1));
    }
    return normal;
}

bool TKeyValueStore::KeyExists(std::string_view path) {
    Statement query(*this, "SELECT 1 FROM keys WHERE path = ?1");
    query.BindName(1, NormalizeKey(path));
    return query.Step("cannot be read");
}

void TKeyValueStore::CreateKey(std::string_view path) {
    const tarvik::Text normal = NormalizeKey(path);
    Execute("BEGIN IMMEDIATE");
    try {
        Statement insert(*this, "INSERT OR IGNORE INTO keys VALUES (?1)");
        for (std::size_t end = 0; end != tarvik::Text::npos;) {
            end = normal.find('\\', end + 1);
            insert.BindName(1, normal.substr(0, end));
            insert.Step("cannot be written");
            insert.Reset();
        }
        Execute("COMMIT");
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

TRegValues TKeyValueStore::ReadValues(std::string_view path) {
    Statement query(*this, "SELECT name, type, data FROM vals WHERE path = ?1");
    query.BindName(1, NormalizeKey(path));
    TRegValues values;
    while (query.Step("cannot be read")) {
        TRegValue value;
        value.type = static_cast<TRegType>(static_cast<std::uint32_t>(query.Int(1)));
        value.data = query.Bytes(2);
        values[query.Name(0)] = std::move(value);
    }
    return values;
}

void TKeyValueStore::WriteValue(std::string_view path, std::string_view name,
                                const TRegValue& value) {
    Statement upsert(*this,
                     "INSERT INTO vals (path, name, type, data) VALUES (?1, ?2, ?3, ?4) "
                     "ON CONFLICT (path, name) DO UPDATE SET type = excluded.type, "
                     "data = excluded.data");
    upsert.BindName(1, NormalizeKey(path));
    upsert.BindName(2, name);
    upsert.BindInt(3, static_cast<std::int64_t>(value.type));
    upsert.BindBlob(4, value.data);
    upsert.Step("cannot be written");
}

}  // namespace cport
