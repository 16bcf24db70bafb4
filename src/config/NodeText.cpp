// Turning node strings into the ASCII text the configuration walk works with.
#include "config/XmlAccess.h"

bool StringGetValue(std::string const* text, std::string* target)
{
    if (!text)
        return false;
    for (char character : *text)
    {
        if (static_cast<unsigned char>(character) >= 0x80)
            return false;
    }
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
