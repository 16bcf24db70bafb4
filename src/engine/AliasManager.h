// Alias records as the engines hand them out (CDiskImageEngine::MakeAlias), and the path split both
// engines build them from.
#pragma once

#include <memory>
#include <string>
#include <vector>

struct CAliasRecord
{
    std::vector<unsigned char> bytes;
};

using CAliasHandle = std::unique_ptr<CAliasRecord>;

// The names of a path relative to a volume root ("a/b" -> {"a", "b"}; "" -> none).
std::vector<std::string> SplitRelativePath(std::string const& relativePath);
