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
    // Two names compare equal exactly when their folded units, ignorable ones left out, are the same.
    std::u16string folded;
    for (char16_t unit : stored)
    {
        if (uint16_t const c = FoldHfsChar(uint16_t(unit)))
            folded.push_back(char16_t(c));
    }
    auto const [place, added] = m_names.emplace(std::move(folded), name);
    if (!added)
        *taken = place->second;
    return added;
}
