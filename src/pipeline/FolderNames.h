// The item names given in one folder, compared as the volume will compare them, so that two items
// the volume would take for one are caught before the second is made.
#pragma once

#include <string>
#include <utility>
#include <vector>

class CFolderNames
{
public:
    // Takes the name for an item; false if an earlier item holds a name that the volume doesn't
    // tell apart from it (letter case, composed and decomposed forms), with that name in `taken`.
    bool Claim(std::string const& name, std::string* taken);

private:
    std::vector<std::pair<std::u16string, std::string>> m_names; // stored form, as given
};
