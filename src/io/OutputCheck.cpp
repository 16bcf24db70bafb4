// Checking an output path against the run's files and against what stands there now.
#include "io/OutputCheck.h"

#include "io/FullTransfer.h"
#include "io/RegularInputFile.h"
#include "io/TempOutputFile.h"

#include <cstdint>
#include <cstring>
#include <sys/stat.h>

namespace
{
// A UDIF image ends in a 512-byte trailer that begins "koly"; a PNG file begins with 8 fixed bytes.
bool HasFormat(std::string const& path, EOutputFormat format)
{
    CFileDescriptor fd;
    uint64_t size = 0;
    std::string ignored;
    if (OpenRegularInputFile(path, UINT64_MAX, &fd, &size, &ignored) != EInputFile::Opened)
        return false;
    uint8_t bytes[8];
    if (format == EOutputFormat::DiskImage)
        return size >= 512 && ReadFullyAt(fd.Get(), bytes, 4, size - 512) &&
               std::memcmp(bytes, "koly", 4) == 0;
    static uint8_t const kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return ReadFullyAt(fd.Get(), bytes, 8, 0) && std::memcmp(bytes, kPngSignature, 8) == 0;
}
} // namespace

bool ClaimOutputFile(std::string const& path, EOutputFormat format, char const* label, CRunFiles* run,
                     std::string* reason)
{
    std::string const named = std::string("The ") + label + " '" + path + "'";
    std::string what;
    if (run && run->configuration.Contains(path))
        *reason = named + " is the configuration file; it is not replaced";
    else if (run && run->sources.Contains(path))
        *reason = named + " is also a source the configuration reads; it is not replaced";
    else if (run && run->outputs.Contains(path))
        *reason = named + " is already an output of this configuration; it is not written twice";
    else if (!CTempOutputFile::IsReplaceable(path, &what))
        *reason = named + " is " + what + ", not a regular file; it is not replaced";
    else if (struct stat status; stat(path.c_str(), &status) == 0 && !HasFormat(path, format))
        *reason = named + " exists and is not " +
                  (format == EOutputFormat::DiskImage ? "a disk image" : "a PNG picture") +
                  "; it is not replaced";
    else
    {
        if (run)
            run->outputs.Add(path);
        return true;
    }
    return false;
}
