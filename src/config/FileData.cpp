// Reading a configuration file whole into memory.
#include "config/XmlAccess.h"

#include "io/RegularInputFile.h"

#include <climits>
#include <cstdio>

namespace
{
// The parser takes at most this many bytes; a larger file is refused before it is read.
constexpr uint64_t kMaximumFileSize = INT_MAX;

// Only a regular file is a configuration file: a FIFO is refused at once instead of hanging the
// run; folders and devices are refused too.
std::unique_ptr<CFileData> ReadRegularFile(char const* path)
{
    std::vector<uint8_t> bytes;
    std::string ignored;
    if (ReadRegularInputFile(path, kMaximumFileSize, &bytes, &ignored) != EInputFile::Opened)
        return nullptr;
    return std::make_unique<CFileData>(std::move(bytes));
}
} // namespace

std::unique_ptr<CFileData> ReadFileIntoMemory(char const* path)
{
    std::unique_ptr<CFileData> data = path ? ReadRegularFile(path) : nullptr;
    if (!data)
        fprintf(stderr, "Error: Unable to access file '%s'.\n", path ? path : "");
    return data;
}
