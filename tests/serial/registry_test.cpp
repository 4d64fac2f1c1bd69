#include "serial/store/registry.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <optional>

#include "storage_test_util.h"

namespace cport {
namespace {

using testing::HasSubstr;
using testutil::TempFolder;
using testutil::WriteFile;
using namespace std::string_literals;

using testutil::kKey;

// The message of the ERegistryException that fn throws, or nothing.
template <typename Fn>
std::optional<std::string> RegistryError(Fn fn) {
    try {
        fn();
    } catch (const ERegistryException& error) {
        return std::string(error.what());
    }
    return std::nullopt;
}

// The registry's reading rules, value by value.
TEST(Registry, ReadsFollowTheRegistrysTypeRules) {
    TempFolder folder;
    TRegistry reg(folder / "registry.sqlite");
    ASSERT_TRUE(reg.OpenKey(kKey, true));
    reg.WriteString("Text", "COM7");
    reg.WriteString("EmptyText", "");
    reg.WriteExpandString("Expand", "%HOME%\\x");
    reg.WriteInteger("Number", -2);
    reg.WriteBinaryData("Empty", "");
    reg.WriteBinaryData("Bytes", "abc");
    reg.WriteBinaryData("Long", "12345678");
    reg.WriteString("EmbeddedNul", "ab\0cd"s);

    EXPECT_EQ(reg.ReadString("Text"), "COM7");
    EXPECT_EQ(reg.ReadString("EmptyText"), "");
    EXPECT_EQ(reg.ReadString("Expand"), "%HOME%\\x");  // never expanded
    EXPECT_EQ(reg.ReadString("Absent"), "");
    EXPECT_EQ(reg.ReadString("Empty"), "");  // empty: no type check
    EXPECT_EQ(reg.ReadString("EmbeddedNul"), "ab");
    EXPECT_EQ(reg.ReadInteger("Number"), -2);

    const struct {
        std::function<void()> read;
        const char* message;
    } failures[] = {
        {[&] { reg.ReadInteger("Text"); }, "Failed to get data for 'Text'"},
        {[&] { reg.ReadString("Number"); }, "Invalid data type for 'Number'"},
        {[&] { reg.ReadString("Bytes"); }, "Invalid data type for 'Bytes'"},
        {[&] { reg.ReadInteger("Absent"); }, "Failed to get data for 'Absent'"},
        {[&] { reg.ReadInteger("Long"); }, "Failed to get data for 'Long'"},
        {[&] { reg.ReadInteger("Bytes"); }, "Invalid data type for 'Bytes'"},
        // "abc" and its NUL fit in 4 bytes: the type decides.
        {[&] {
             reg.WriteString("Short", "abc");
             reg.ReadInteger("Short");
         },
         "Invalid data type for 'Short'"},
        // "9600" and its NUL do not.
        {[&] {
             reg.WriteString("Rate", "9600");
             reg.ReadInteger("Rate");
         },
         "Failed to get data for 'Rate'"},
    };
    for (const auto& failure : failures) EXPECT_EQ(RegistryError(failure.read), failure.message);
}

TEST(Registry, ValuesPersistAndMatchWithoutCase) {
    TempFolder folder;
    const auto file = folder / "registry.sqlite";
    {
        TRegistry reg(file);
        ASSERT_TRUE(reg.OpenKey("Software/Tarvik2//C1/", true));
        EXPECT_EQ(reg.CurrentPath(), kKey);
        reg.WriteString("Port", "ttyUSB0");
        reg.WriteInteger("Buffer.InputSize", 4096);
        reg.WriteString("port", "ttyUSB1");  // the same value
    }
    TRegistry reg(file);
    EXPECT_TRUE(reg.KeyExists("SOFTWARE\\TARVIK2"));
    ASSERT_TRUE(reg.OpenKeyReadOnly("software\\tarvik2\\c1"));
    EXPECT_EQ(reg.ReadString("PORT"), "ttyUSB1");
    EXPECT_EQ(reg.ReadInteger("buffer.inputsize"), 4096);
    EXPECT_EQ(reg.GetDataType("Port"), TRegType::kString);
    EXPECT_EQ(reg.GetDataType("Buffer.InputSize"), TRegType::kInteger);
}

TEST(Registry, OpeningWithoutCreatingCreatesNothing) {
    TempFolder folder;
    const auto file = folder / "sub" / "registry.sqlite";
    TRegistry reg(file);
    EXPECT_FALSE(reg.OpenKey(kKey, false));
    EXPECT_FALSE(reg.OpenKeyReadOnly(kKey));
    EXPECT_FALSE(reg.KeyExists(kKey));
    EXPECT_FALSE(std::filesystem::exists(file));

    ASSERT_TRUE(reg.OpenKey("Software", true));
    EXPECT_TRUE(std::filesystem::exists(file));
    EXPECT_FALSE(reg.OpenKey(kKey, false));
    EXPECT_FALSE(reg.HasCurrentKey());
}

TEST(Registry, WritesThatCannotHappenFailWithTheValueName) {
    TempFolder folder;
    const auto file = folder / "registry.sqlite";
    {
        TRegistry writer(file);
        ASSERT_TRUE(writer.OpenKey(kKey, true));
    }
    TRegistry reg(file);
    ASSERT_TRUE(reg.OpenKeyReadOnly(kKey));
    try {
        reg.WriteString("Port", "COM2");
        ADD_FAILURE();
    } catch (const ERegistryException& error) {
        EXPECT_STREQ(error.what(), "Failed to set data for 'Port'");
        EXPECT_THAT(error.Detail(), HasSubstr("reading only"));
    }
    EXPECT_EQ(RegistryError([&] { reg.WriteInteger("Buffer.InputSize", 1); }),
              "Failed to set data for 'Buffer.InputSize'");
    EXPECT_FALSE(reg.ValueExists("Port"));

    reg.CloseKey();
    EXPECT_EQ(RegistryError([&] { reg.WriteString("Port", "x"); }),
              "Failed to set data for 'Port'");
    EXPECT_EQ(RegistryError([&] { reg.ReadString("Port"); }), "Failed to get data for 'Port'");
}

TEST(Registry, DamagedOrForeignStoreIsRefusedOnOpening) {
    TempFolder folder;
    const auto garbage = folder / "garbage.sqlite";
    WriteFile(garbage, std::string(8192, '\x5a'));
    const auto foreign = folder / "foreign.sqlite";
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(foreign.c_str(), &db), SQLITE_OK);
        sqlite3_exec(db, "CREATE TABLE t(x)", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    for (const auto& file : {garbage, foreign}) {
        TRegistry reg(file);
        auto error = RegistryError([&] { reg.OpenKeyReadOnly(kKey); });
        ASSERT_TRUE(error) << file;
        EXPECT_THAT(*error, HasSubstr(file.string()));
        error = RegistryError([&] { reg.OpenKey(kKey, true); });
        ASSERT_TRUE(error) << file;
    }
    EXPECT_EQ(testutil::ReadFile(garbage), std::string(8192, '\x5a'));  // left alone
}

// Sets an environment variable for one scope.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~ScopedEnv() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(Registry, DefaultStoresFollowTheXdgFolders) {
    {
        ScopedEnv config("XDG_CONFIG_HOME", "/tmp/cfg");
        EXPECT_EQ(DefaultRegistryFile(TRegistryRoot::kCurrentUser),
                  "/tmp/cfg/tarvik2/registry.sqlite");
    }
    {
        ScopedEnv config("XDG_CONFIG_HOME", "relative/ignored");
        ScopedEnv home("HOME", "/home/tester");
        EXPECT_EQ(DefaultRegistryFile(TRegistryRoot::kCurrentUser),
                  "/home/tester/.config/tarvik2/registry.sqlite");
        EXPECT_EQ(TRegistry().StoreFile(), "/home/tester/.config/tarvik2/registry.sqlite");
    }
    {
        ScopedEnv dirs("XDG_CONFIG_DIRS", "rel:/opt/xdg:/etc/xdg");
        EXPECT_EQ(DefaultRegistryFile(TRegistryRoot::kLocalMachine),
                  "/opt/xdg/tarvik2/registry.sqlite");
    }
    {
        ScopedEnv dirs("XDG_CONFIG_DIRS", nullptr);
        EXPECT_EQ(DefaultRegistryFile(TRegistryRoot::kLocalMachine),
                  "/etc/xdg/tarvik2/registry.sqlite");
    }
}

// A program killed while writing leaves an undamaged store holding one
// whole version of every value.
TEST(Registry, KilledWriterLeavesAnUndamagedStore) {
    TempFolder folder;
    const auto file = folder / "registry.sqlite";
    const std::string filler(16 * 1024, 'f');
    {
        TRegistry reg(file);
        ASSERT_TRUE(reg.OpenKey(kKey, true));
    }
    testutil::KillDuringWrites(
        [&](int n) {
            TRegistry reg(file);
            reg.OpenKey(kKey, false);
            reg.WriteBinaryData("Filler", filler + std::to_string(n));
            reg.WriteInteger("Version", n);
        },
        20);

    TRegistry reg(file);
    ASSERT_TRUE(reg.OpenKeyReadOnly(kKey));  // checks the file
    const int version = reg.ReadInteger("Version");
    EXPECT_GE(version, 20);
    const std::string filler2 = filler + std::to_string(version);
    EXPECT_TRUE(reg.GetDataType("Filler") == TRegType::kBinary);
    // Filler is written first, so it holds this version or the next.
    TKeyValueStore store(file, false);
    const std::string stored = store.ReadValues(kKey).at("Filler").data;
    EXPECT_TRUE(stored == filler2 || stored == filler + std::to_string(version + 1));

    // Killed for certain inside a transaction: the hot journal it leaves is
    // rolled back by the next reader, even a read-only one.
    testutil::KillDuringWrites(
        [&](int n) {
            if (n > 1)
                ::pause();
            sqlite3* db = nullptr;
            sqlite3_open(file.c_str(), &db);
            sqlite3_exec(db, "BEGIN; UPDATE vals SET data = zeroblob(40000);", nullptr, nullptr,
                         nullptr);
        },
        1);
    ASSERT_TRUE(std::filesystem::exists(file.string() + "-journal"));
    TRegistry reader(file);
    ASSERT_TRUE(reader.OpenKeyReadOnly(kKey));
    EXPECT_EQ(reader.ReadInteger("Version"), version);
}

}  // namespace
}  // namespace cport
