// libFuzzer target for "--dump" of disk images: the UDIF, partition map and HFS+ readers and the
// desktop databases inside. Any input must be printed or refused with an error line, without
// crashing, hanging or allocating far beyond what its tables may claim.
//
// Run with KILNPACK_FUZZ_SEED_DIR=DIR KILNPACK_FUZZ_IMAGE=FILE.dmg to write seeds into DIR and
// exit: the image as it is, and the same disk stored uncompressed (only its non-zero sectors), so
// that mutations reach the partition map and the volume rather than only the compressed runs.
#include "inspect/DumpImage.h"
#include "udif/BlkxTable.h"
#include "udif/KolyTrailer.h"
#include "udif/UdifPlist.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace
{
CImageReadAt ReadFromMemory(uint8_t const* bytes, size_t length)
{
    return [bytes, length](uint64_t offset, uint8_t* data, size_t size, std::string* error) {
        if (offset > length || size > length - offset)
        {
            *error = "the file is shorter than its trailer claims";
            return false;
        }
        if (size > 0)
            std::memcpy(data, bytes + offset, size);
        return true;
    };
}

void WriteSeed(std::string const& path, std::vector<uint8_t> const& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<char const*>(bytes.data()), long(bytes.size()));
}

// The image's disk again, each non-zero sector a raw run and the rest zero fill.
std::vector<uint8_t> StoreUncompressed(std::vector<uint8_t> const& image)
{
    CUdifImageReader reader;
    std::string error;
    if (!reader.Open(ReadFromMemory(image.data(), image.size()), image.size(), &error))
        return {};
    uint64_t const sectors = reader.GetDiskSize() / 512;
    std::vector<uint8_t> file;
    CBlkxTable table;
    table.sectorCount = sectors;
    uint8_t sector[512];
    for (uint64_t s = 0; s < sectors; ++s)
    {
        if (!reader.ReadDisk(s * 512, sector, 512, &error))
            return {};
        bool const zero = std::all_of(std::begin(sector), std::end(sector), [](uint8_t b) { return b == 0; });
        uint32_t const type = zero ? kBlkxZeroFill : kBlkxRaw;
        if (!table.runs.empty() && table.runs.back().type == type && table.runs.back().sectorCount < kBlkxChunkSectors)
            table.runs.back().sectorCount += 1;
        else
            table.runs.push_back({type, s, 1, file.size(), 0});
        if (!zero)
        {
            file.insert(file.end(), std::begin(sector), std::end(sector));
            table.runs.back().compressedLength += 512;
        }
    }
    CKolyTrailer trailer;
    trailer.dataForkLength = file.size();
    trailer.sectorCount = sectors;
    std::string xml;
    if (!BuildUdifPlist({{"whole disk", 0, SerializeBlkxTable(table)}}, &xml, &error))
        abort();
    trailer.xmlOffset = file.size();
    trailer.xmlLength = xml.size();
    file.insert(file.end(), xml.begin(), xml.end());
    auto const koly = SerializeKolyTrailer(trailer);
    file.insert(file.end(), koly.begin(), koly.end());
    return file;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    char const* folder = std::getenv("KILNPACK_FUZZ_SEED_DIR");
    char const* imagePath = std::getenv("KILNPACK_FUZZ_IMAGE");
    if (folder && imagePath)
    {
        std::ifstream in(imagePath, std::ios::binary);
        std::vector<uint8_t> const image{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        WriteSeed(std::string(folder) + "/image", image);
        WriteSeed(std::string(folder) + "/uncompressed", StoreUncompressed(image));
        std::exit(0);
    }
    // Error lines go to the standard error, which run.sh has libFuzzer close.
    if (std::freopen("/dev/null", "w", stdout) == nullptr)
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    DumpDiskImage(ReadFromMemory(data, size), size, "input");
    return 0;
}
