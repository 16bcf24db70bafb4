// Splitting disk regions into stored, zero-filled and ignored runs of at most one chunk.
#include "udif/RegionPlan.h"

#include "udif/BlkxTable.h"

#include <algorithm>

namespace
{
using CRange = std::pair<uint64_t, uint64_t>; // start, count

std::vector<CRange> MergeUnused(std::vector<CRange> ranges)
{
    ranges.erase(std::remove_if(ranges.begin(), ranges.end(), [](CRange const& r) { return r.second == 0; }),
                 ranges.end());
    std::sort(ranges.begin(), ranges.end());
    std::vector<CRange> merged;
    for (CRange const& r : ranges)
    {
        if (!merged.empty() && r.first <= merged.back().first + merged.back().second)
        {
            uint64_t const end = std::max(merged.back().first + merged.back().second, r.first + r.second);
            merged.back().second = end - merged.back().first;
        }
        else
            merged.push_back(r);
    }
    return merged;
}

void AddDataPieces(std::vector<CRegionPiece>& pieces, uint64_t start, uint64_t end)
{
    while (start < end)
    {
        uint64_t const count = std::min(end - start, kBlkxChunkSectors);
        pieces.push_back({false, start, count});
        start += count;
    }
}
} // namespace

bool CheckRegions(std::vector<CUdifRegion> const& regions, std::string* error)
{
    if (regions.empty())
    {
        *error = "the disk has no partition map regions";
        return false;
    }
    uint64_t next = 0;
    for (CUdifRegion const& region : regions)
    {
        if (region.startSector != next)
        {
            *error = "partition map region \"" + region.name + "\" starts at sector " +
                     std::to_string(region.startSector) + " instead of " + std::to_string(next);
            return false;
        }
        if (region.sectorCount == 0 || region.sectorCount > UINT64_MAX / 512 - region.startSector)
        {
            *error = "partition map region \"" + region.name + "\" has an impossible size of " +
                     std::to_string(region.sectorCount) + " sectors";
            return false;
        }
        next = region.startSector + region.sectorCount;
        for (auto const& range : region.unusedSectors)
        {
            if (range.first < region.startSector || range.first > next || range.second > next - range.first)
            {
                *error = "unused sectors " + std::to_string(range.first) + "+" +
                         std::to_string(range.second) + " lie outside partition map region \"" + region.name +
                         "\"";
                return false;
            }
        }
    }
    return true;
}

std::vector<CRegionPiece> PlanRegionPieces(CUdifRegion const& region)
{
    std::vector<CRegionPiece> pieces;
    uint64_t position = region.startSector;
    for (CRange const& unused : MergeUnused(region.unusedSectors))
    {
        AddDataPieces(pieces, position, unused.first);
        pieces.push_back({true, unused.first, unused.second});
        position = unused.first + unused.second;
    }
    AddDataPieces(pieces, position, region.startSector + region.sectorCount);
    return pieces;
}
