// Giving the items of a volume their catalog IDs.
#include "hfsplus/HfsItems.h"

#include "io/HfsConstants.h"

#include <algorithm>
#include <set>

bool AssignHfsCatalogIds(std::vector<CHfsItem>* items, std::map<std::string, uint32_t> const& fixedIds,
                         uint32_t* nextId, std::string* error)
{
    std::map<std::string, size_t> byPath;
    for (size_t i = 0; i < items->size(); ++i)
        byPath[(*items)[i].path] = i;

    // Every promised ID stays reserved, even for a path that is gone, so that no other item takes it
    // and an alias to the missing item doesn't lead to a stranger.
    std::set<uint32_t> reserved;
    uint32_t highest = kHfsFirstUserId - 1;
    for (auto const& [path, id] : fixedIds)
    {
        if (path.empty())
        {
            if (id != kHfsRootFolderId)
            {
                *error = "the root folder's ID is 2, not " + std::to_string(id);
                return false;
            }
            continue;
        }
        if (id < kHfsFirstUserId)
        {
            *error =
                "the ID " + std::to_string(id) + " promised for " + path + " is reserved (IDs start at 16)";
            return false;
        }
        if (!reserved.insert(id).second)
        {
            *error = "the ID " + std::to_string(id) + " is promised to two items, one of them " + path;
            return false;
        }
        highest = std::max(highest, id);
    }

    for (CHfsItem& item : *items)
        item.id = 0;
    (*items)[0].id = kHfsRootFolderId;
    for (auto const& [path, id] : fixedIds)
    {
        auto found = byPath.find(path);
        if (!path.empty() && found != byPath.end())
            (*items)[found->second].id = id;
    }
    uint32_t fresh = kHfsFirstUserId;
    for (CHfsItem& item : *items)
    {
        if (item.id != 0)
            continue;
        while (reserved.count(fresh))
            ++fresh;
        if (fresh == UINT32_MAX)
        {
            *error = "too many items for one volume";
            return false;
        }
        item.id = fresh++;
        highest = std::max(highest, item.id);
    }
    *nextId = highest + 1;
    return true;
}
