// The alias manager operations the view settings need: a reference to an existing item and the size
// of an alias record. The record itself is made by the disk-image tools (CDiskImageTools::FSNewAlias),
// which know the volume the item is on.
#pragma once

#include <memory>
#include <string>
#include <vector>

struct CFileRef
{
    std::string path;
};

struct CAliasRecord
{
    std::vector<unsigned char> bytes;
};

using CAliasHandle = std::unique_ptr<CAliasRecord>;

// A reference to the existing item at `path`, and whether it is a folder; false with a reason.
bool FSPathMakeRef(char const* path, CFileRef* ref, bool* isDirectory, std::string* error);
unsigned int GetAliasSize(CAliasHandle const& alias);

// The names of a path relative to a volume root ("a/b" -> {"a", "b"}; "" -> none).
std::vector<std::string> SplitRelativePath(std::string const& relativePath);
