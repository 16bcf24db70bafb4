// Comparing one folder's item names in the volume's stored form to catch names it can't tell apart.
#include "pipeline/FolderNames.h"

#include "hfsplus/HfsNames.h"

bool CFolderNames::Claim(std::string const& name, std::string* taken)
{
    std::u16string stored;
    std::string ignored;
    // A name the volume can't store is refused later, when the volume is written; compared as
    // given meanwhile.
    if (!ConvertNameToHfs(name, &stored, &ignored))
        stored.assign(name.begin(), name.end());
    for (auto const& [otherStored, otherName] : m_names)
    {
        if (CompareHfsNames(stored, otherStored) == 0)
        {
            *taken = otherName;
            return false;
        }
    }
    m_names.emplace_back(std::move(stored), name);
    return true;
}
