// The XML property list of a UDIF image: the resource fork's 'blkx' and 'plst' resources, and others
// added to a finished image.
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

// A resource of the image's resource fork, as the property list keeps it under "resource-fork".
struct CUdifResource
{
    std::string type; // four characters, e.g. "LPic", "STR#", "TEXT", "RTF "
    int32_t id = 0;
    std::string name;
    std::vector<uint8_t> data;
};

// Sets `xml` to the XML text of the property list; fails (with the reason in `error`) only when
// memory runs out.
[[nodiscard]] bool BuildUdifPlist(std::vector<CBlkxResource> const& tables, std::string* xml,
                                  std::string* error);

// Sets `edited` to `xml` (a UDIF property list) with `resources` added to its resource fork; a resource
// of the same type and ID as an added one is replaced. Fails if `xml` is no UDIF property list or the
// result can't be built.
[[nodiscard]] bool AddResourcesToUdifPlist(std::string const& xml,
                                           std::vector<CUdifResource> const& resources, std::string* edited,
                                           std::string* error);
