// Splitting the regions of a disk into the pieces that become block table runs.
#pragma once

#include "udif/UdifWriter.h"

#include <cstdint>
#include <string>
#include <vector>

struct CRegionPiece
{
    bool unused = false;      // free space: never read, stored as an ignored run
    uint64_t startSector = 0; // absolute
    uint64_t sectorCount = 0; // data pieces hold at most one chunk
};

// Checks that the regions tile the disk from sector 0 in order and that every unused range lies
// inside its region. Gives false and a message otherwise.
bool CheckRegions(std::vector<CUdifRegion> const& regions, std::string* error);

// The pieces of a checked region in disk order: its merged unused ranges, and the data between them cut
// into chunks of at most kBlkxChunkSectors.
std::vector<CRegionPiece> PlanRegionPieces(CUdifRegion const& region);
