// Any file a user may choose loads without touching memory it does not own,
// as the same lines whether read from disk or split in memory; no loaded line
// holds a line end or a NUL; and what is saved loads back line for line.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/list_file.h"

namespace {

std::string scratch;  // a file in a folder of the fuzzer's own

void RemoveScratch() {
    std::filesystem::remove_all(std::filesystem::path(scratch).parent_path());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char folder[] = "/tmp/tarvik-list-fuzz-XXXXXX";
    if (::mkdtemp(folder) == nullptr)
        std::abort();
    scratch = std::string(folder) + "/list.txt";
    std::atexit(RemoveScratch);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string content(reinterpret_cast<const char*>(data), size);
    const std::vector<tarvik::Text> lines = tarvik::SplitListText(content);
    for (const auto& line : lines) {
        if (line.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
            std::abort();
    }

    std::ofstream(scratch, std::ios::binary | std::ios::trunc) << content;
    if (tarvik::LoadListFile(scratch) != lines)
        std::abort();

    tarvik::SaveListFile(scratch, lines);
    if (tarvik::LoadListFile(scratch) != lines)
        std::abort();
    return 0;
}
