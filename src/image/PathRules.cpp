#include "image/PathRules.h"

#include "hfsplus/HfsNames.h"

#include <unicode/unistr.h>

bool IsSingleComponentName(std::string const& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

bool IsContainedRelativePath(std::string const& path)
{
    if (!path.empty() && path[0] == '/')
        return false;
    size_t start = 0;
    while (start <= path.size())
    {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        if (path.compare(start, end - start, "..") == 0)
            return false;
        start = end + 1;
    }
    return true;
}

std::string MakeRecordName(std::string const& name)
{
    std::u16string stored;
    std::string error;
    if (!ConvertNameToHfs(name, &stored, &error))
        return name;
    // The volume keeps ':' as '/'; an item name holds no '/', so every '/' here was a ':'.
    for (char16_t& c : stored)
        c = c == u'/' ? u':' : c;
    std::string utf8;
    icu::UnicodeString(reinterpret_cast<UChar const*>(stored.data()), int32_t(stored.size()))
        .toUTF8String(utf8);
    return utf8;
}
