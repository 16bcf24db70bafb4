// The three alias manager operations the view settings need, on platforms without one.
// Result codes follow the platform convention: 0 is success.
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

int FSPathMakeRef(char const* path, CFileRef* ref, bool* isDirectory);
int FSNewAlias(CFileRef const* fromFile, CFileRef const& target, CAliasHandle* alias);
unsigned int GetAliasSize(CAliasHandle const& alias);
