// Converts a raw disk image laid out as a GUID partition map disk into UDZO and prints the seconds taken.
// Usage: udzo_convert RAW OUT LEVEL [--volume]
//   --volume: RAW is a bare volume; it is converted as one region.
#include "udif/UdifWriter.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

int main(int argc, char** argv)
{
    if (argc < 4)
    {
        std::fprintf(stderr, "usage: %s RAW OUT LEVEL [--volume]\n", argv[0]);
        return 2;
    }
    struct stat info;
    if (stat(argv[1], &info) != 0)
    {
        std::perror(argv[1]);
        return 1;
    }
    uint64_t const n = static_cast<uint64_t>(info.st_size) / 512;
    std::vector<CUdifRegion> regions;
    if (argc > 4 && std::strcmp(argv[4], "--volume") == 0)
        regions.push_back({"disk image (Apple_HFS : 0)", 0, 0, n, {}});
    else
    {
        // The layout of a GUID partition map disk with one partition at sector 40.
        regions.push_back({"Protective Master Boot Record (MBR : 0)", -1, 0, 1, {}});
        regions.push_back({"GPT Header (Primary GPT Header : 1)", 0, 1, 1, {}});
        regions.push_back({"GPT Partition Data (Primary GPT Table : 2)", 1, 2, 32, {}});
        regions.push_back({" (Apple_Free : 3)", 2, 34, 6, {}});
        regions.push_back({"disk image (Apple_HFS : 4)", 3, 40, n - 80, {}});
        regions.push_back({" (Apple_Free : 5)", 4, n - 40, 7, {}});
        regions.push_back({"GPT Partition Data (Backup GPT Table : 6)", 5, n - 33, 32, {}});
        regions.push_back({"GPT Header (Backup GPT Header : 7)", 6, n - 1, 1, {}});
    }
    auto const start = std::chrono::steady_clock::now();
    std::string error;
    if (!WriteUdzoImage(argv[1], regions, argv[2], std::atoi(argv[3]), &error))
    {
        std::fprintf(stderr, "udzo_convert: %s\n", error.c_str());
        return 1;
    }
    std::chrono::duration<double> const seconds = std::chrono::steady_clock::now() - start;
    std::printf("%.3f\n", seconds.count());
    return 0;
}
