// Any file a person or a damaged disk may leave is read as an ini file
// without touching memory the reader does not own and without being refused
// as a whole; what is written reads back, and every line no write touched
// stays byte for byte, its line end included.
//
// Input: the file's bytes up to the first NUL, then NUL-separated triples of
// section, key and value to write.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/text.h"
#include "serial/store/ini_file.h"

namespace {

namespace fs = std::filesystem;
using cport::EIniFileError;
using cport::TIniFile;

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "ini_file_fuzzer: %s\n", what);
        std::abort();
    }
}

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

struct Line {
    std::string raw;
    std::string end;
};

// The lines of a file: CR LF, a lone CR or a lone LF ends each.
std::vector<Line> Split(std::string_view bytes) {
    std::vector<Line> lines;
    while (!bytes.empty()) {
        const std::size_t end = bytes.find_first_of("\r\n");
        if (end == std::string_view::npos) {
            lines.push_back({std::string(bytes), ""});
            break;
        }
        const std::size_t length = bytes.substr(end).starts_with("\r\n") ? 2 : 1;
        lines.push_back(
            {std::string(bytes.substr(0, end)), std::string(bytes.substr(end, length))});
        bytes.remove_prefix(end + length);
    }
    return lines;
}

std::string ReadAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const fs::path& file, std::string_view bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    Check(static_cast<bool>(out.flush()), "cannot write the input file");
}

// A line a write may have changed or added: blank, the header of a written
// section, or a line of a written key (names as on the disk, lower case).
bool MayChange(const Line& line, const std::set<std::string>& sections,
               const std::set<std::string>& keys) {
    const std::string_view text = Trim(line.raw);
    if (text.empty())
        return true;
    if (text.front() == '[') {
        const std::size_t close = text.find(']');
        return close != std::string_view::npos &&
               sections.contains(Lower(Trim(text.substr(1, close - 1))));
    }
    const std::size_t equals = text.find('=');
    return equals != std::string_view::npos && keys.contains(Lower(Trim(text.substr(0, equals))));
}

std::vector<Line> Kept(const std::vector<Line>& lines, const std::set<std::string>& sections,
                       const std::set<std::string>& keys) {
    std::vector<Line> kept;
    for (const Line& line : lines)
        if (!MayChange(line, sections, keys))
            kept.push_back(line);
    return kept;
}

// A folder of its own for one run, gone when the run ends: libFuzzer ends a
// timed session without running exit handlers.
class RunFolder {
  public:
    RunFolder() {
        // Memory-backed where the system has it: every run replaces a file.
        const fs::path base =
            fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        std::string pattern = (base / "tarvik-ini-fuzz-XXXXXX").string();
        Check(::mkdtemp(pattern.data()) != nullptr, "cannot make a folder");
        path_ = pattern;
    }
    ~RunFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    RunFolder(const RunFolder&) = delete;
    RunFolder& operator=(const RunFolder&) = delete;
    const fs::path& Path() const { return path_; }

  private:
    fs::path path_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::string contents(input.substr(0, input.find('\0')));
    std::vector<std::string> fields;
    if (contents.size() < input.size()) {
        std::string_view rest = input.substr(contents.size() + 1);
        for (;;) {
            const std::size_t nul = rest.find('\0');
            fields.emplace_back(rest.substr(0, nul));
            if (nul == std::string_view::npos)
                break;
            rest.remove_prefix(nul + 1);
        }
    }

    const RunFolder folder;
    const fs::path file = folder.Path() / "fuzz.ini";
    WriteAll(file, contents);
    std::map<std::pair<std::string, std::string>, std::string> written;  // lower-case names
    std::set<std::string> sections, keys;                                // as on the disk
    {
        std::optional<TIniFile> ini;
        try {
            ini.emplace(file);
        } catch (const EIniFileError&) {
            Check(false, "a file without NUL bytes was refused");
        }
        for (std::size_t i = 0; i + 2 < fields.size(); i += 3) {
            const std::string &section = fields[i], &key = fields[i + 1], &value = fields[i + 2];
            const bool modified = ini->Modified();
            try {
                ini->WriteString(section, key, value);
            } catch (const EIniFileError&) {
                Check(ini->Modified() == modified, "a refused write changed the file");
                continue;
            }
            Check(ini->ReadString(section, key, "") == value, "a write does not read back");
            written[{Lower(section), Lower(key)}] = value;
            sections.insert(Lower(tarvik::Latin1ToUtf8(section)));
            keys.insert(Lower(tarvik::Latin1ToUtf8(key)));
        }
        // Whatever the reads find or refuse, they stay in bounds.
        for (const std::string& name : fields) {
            try {
                ini->ReadInteger(name, name, 0);
            } catch (const EIniFileError&) {
            }
            ini->SectionExists(name);
        }
        const bool modified = ini->Modified();
        ini->UpdateFile();
        if (!modified)
            Check(ReadAll(file) == contents, "a file without changes was written");
    }

    const std::string after = ReadAll(file);
    constexpr std::string_view kBom = "\xEF\xBB\xBF";
    Check(contents.starts_with(kBom) == after.starts_with(kBom), "the byte-order mark changed");
    auto body = [&](const std::string& bytes) {
        return std::string_view(bytes).substr(bytes.starts_with(kBom) ? kBom.size() : 0);
    };
    const std::vector<Line> before = Kept(Split(body(contents)), sections, keys);
    const std::vector<Line> now = Kept(Split(body(after)), sections, keys);
    Check(before.size() == now.size(), "a line no write touched was lost or added");
    for (std::size_t i = 0; i < before.size(); ++i) {
        Check(before[i].raw == now[i].raw, "a line no write touched changed");
        Check(before[i].end.empty() || before[i].end == now[i].end, "a line end changed");
    }

    TIniFile reread(file);
    for (const auto& [name, value] : written)
        Check(reread.ReadString(name.first, name.second, "") == value,
              "a written value does not read back from the file");
    return 0;
}
