// The XML property list of a UDIF image: the resource fork's 'blkx' and 'plst' resources.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct CBlkxResource
{
    std::string name;
    int32_t id = 0;
    std::vector<uint8_t> data; // the serialised 'mish' table
};

// Returns the XML text of the property list; throws std::runtime_error if it can't be built.
std::string BuildUdifPlist(std::vector<CBlkxResource> const& tables);
