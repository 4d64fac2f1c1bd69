#pragma once
// TIniFile: a settings file of sections, keys and values, as a user writes it
// in a text editor:
//
//   ; comment
//   [C1]
//   Port=COM1
//   EventChar=#13
//
// The file is UTF-8 (a byte-order mark is accepted); the program's 8-bit texts
// are Latin-1 and are widened on the way out and narrowed on the way in.
// Lines end with CR LF, a lone CR or a lone LF. Section and key names match
// without regard to ASCII letter case. A value loses its surrounding blanks
// and one pair of surrounding quotes ("..." or '...'); a value that needs them
// to survive is written quoted. Lines starting with ";" or "#" are comments.
//
// Files are edited by hand, so a line the reader cannot use (no "=", a "["
// without "]", a key before the first section) is skipped, as other ini
// readers skip it; text after a section's "]" is ignored; of a key or a
// section that appears twice, the first counts. Only a value that is read
// can be refused (not UTF-8, beyond Latin-1, not an integer). When the file
// is written back, every line no write changed is kept byte for byte, its
// line end included; a new line ends as the line before it (a last line
// without an end gets the file's first line end once a line follows it).
//
// The whole file is read when the object is made; a file with NUL bytes is
// refused as not being text. Writes change the object only; UpdateFile puts
// them on the disk, atomically. Nothing is written by the destructor (a
// failure there could not be reported).
//
// One thread at a time.

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"

namespace cport {

// Every failure of an ini file: unreadable, damaged, unwritable, or a value
// that cannot be held. The message (UTF-8) names the file and, where one is
// to blame, the line.
class EIniFileError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class TIniFile {
  public:
    // Files beyond this size are refused as not being settings files.
    static constexpr std::size_t kMaxFileBytes = 16u << 20;

    // Reads and checks the file; one that does not exist yet counts as empty
    // and is created by the first UpdateFile. Throws EIniFileError.
    explicit TIniFile(std::filesystem::path fileName);

    const std::filesystem::path& FileName() const { return fileName_; }

    bool SectionExists(std::string_view section) const;
    bool ValueExists(std::string_view section, std::string_view ident) const;

    // The stored value, or defaultValue when the key is absent. Throws
    // EIniFileError for a value with characters beyond Latin-1.
    tarvik::Text ReadString(std::string_view section, std::string_view ident,
                            std::string_view defaultValue) const;
    // Stores value under the key, in place if the key exists, else after the
    // section's last key (a missing section is added at the end). Throws
    // EIniFileError for names or values a line cannot hold (line breaks, NUL,
    // "=" or "]" in the wrong name).
    void WriteString(std::string_view section, std::string_view ident, std::string_view value);

    // The stored value read in the program's integer notation (decimal, or
    // hexadecimal after "$" or "0x"), or defaultValue when the key is absent.
    // Throws EIniFileError for a value that is no such integer.
    std::int32_t ReadInteger(std::string_view section, std::string_view ident,
                             std::int32_t defaultValue) const;
    // Stores the integer in decimal.
    void WriteInteger(std::string_view section, std::string_view ident, std::int32_t value);

    // True when a write has changed the contents since reading or the last UpdateFile.
    bool Modified() const { return modified_; }
    // Writes the contents if modified: to a temporary file that then replaces
    // the old one, so a crash leaves the old file or the new, whole. Throws
    // EIniFileError; the object keeps its contents, so UpdateFile can be retried.
    void UpdateFile();

  private:
    struct Line {
        enum Kind { kOther, kSection, kValue };
        Kind kind = kOther;
        int number = 0;     // in the file as read; 0 for a line added since
        std::string raw;    // the line as it is written back, without its end
        std::string end;    // "\r\n", "\r", "\n", or "" for a last line without one
        std::string name;   // section or key name (as in the file, trimmed)
        std::string value;  // the value (as in the file, unquoted)
    };

    void Parse(std::string_view bytes);
    [[noreturn]] void FailAt(int lineNumber, const std::string& what) const;
    // Index of the section's header line, or -1.
    int FindSection(const std::string& section) const;
    // Index of the key's line, or -1.
    int FindValue(const std::string& section, const std::string& ident) const;
    // Inserts the line at index `at`, ending as the line before it.
    void InsertAt(std::size_t at, Line line);
    const Line* Find(std::string_view section, std::string_view ident) const;
    std::string Where(const Line& line, std::string_view section) const;

    std::filesystem::path fileName_;
    std::vector<Line> lines_;
    bool bom_ = false;            // the file began with a UTF-8 byte-order mark
    std::string lineEnd_ = "\n";  // for lines added: the end of the file's first line
    bool modified_ = false;
};

}  // namespace cport
