#pragma once
// Reading a small file whole, and replacing a file so that a crash at any
// moment leaves either the old contents or the new, never a mixture.
// Any thread; two writers of the same file must not overlap.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace cport {

// The file's bytes, or nothing when it does not exist. Refuses files larger
// than maxBytes, and streams as base/bounded_file.h bounds them. Throws
// tarvik::EFileRead (unreadable, a folder, too large) naming the path.
std::optional<std::string> ReadWholeFile(const std::filesystem::path& file, std::size_t maxBytes);

// Writes bytes to a new file beside the target, flushes it to the disk and
// renames it over the target, then flushes the folder. A symbolic link is
// followed, so the link stays and its target gets the new contents; an
// existing file keeps its permission bits, a new one gets 0666 less the
// umask. On failure the target is untouched and the temporary file removed.
// Throws std::system_error with the path in its message.
void ReplaceFileContents(const std::filesystem::path& file, std::string_view bytes);

}  // namespace cport
