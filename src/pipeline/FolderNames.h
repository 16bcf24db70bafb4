// The item names given in one folder, compared as the volume will compare them, so that two items
// the volume would take for one are caught before the second is made.
#pragma once

#include <string>
#include <unordered_map>

class CFolderNames
{
public:
    // Takes the name for an item; false if an earlier item holds a name that the volume doesn't
    // tell apart from it (letter case, composed and decomposed forms), with that name in `taken`.
    bool Claim(std::string const& name, std::string* taken);

private:
    // By the name's folded form (what the volume compares), the name as given: one look-up a name,
    // so a folder of many thousand items is checked in linear time.
    std::unordered_map<std::u16string, std::string> m_names;
};
