// Turning node strings into the UTF-8 text the configuration walk works with.
#include "config/XmlAccess.h"

#include <cstdint>
#include <unicode/ustring.h>

bool IsValidUtf8(std::string const& text)
{
    // Preflighting the conversion to UTF-16 checks every sequence: overlong forms, encoded
    // surrogates and truncated sequences are errors.
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strFromUTF8(nullptr, 0, &length, text.data(), int32_t(text.size()), &status);
    return status == U_BUFFER_OVERFLOW_ERROR || status == U_STRING_NOT_TERMINATED_WARNING ||
           U_SUCCESS(status);
}

bool StringGetValue(std::string const* text, std::string* target)
{
    if (!text || text->size() > size_t(INT32_MAX) || !IsValidUtf8(*text))
        return false;
    *target = *text;
    return true;
}

std::string GetNodeType(CXmlNode const* node)
{
    std::string type;
    if (node)
        StringGetValue(&node->text, &type);
    return type;
}

CXmlNode const* GetTreeNode(CXmlTree const* tree)
{
    return tree ? &tree->node : nullptr;
}
