// Diagnostic listing of a parsed configuration tree.
#include "config/XmlAccess.h"

#include <cstdio>

void PrintTree(CXmlTree const* tree, int depth)
{
    if (!tree)
        return;
    for (int level = 0; level < depth; ++level)
        fputs("    ", stdout);
    CXmlNode const* node = GetTreeNode(tree);
    printf("Type: %d Str: '%s' ", node->typeCode, GetNodeType(node).c_str());
    if (node->typeCode == kXmlNodeElement && node->hasInfo)
    {
        for (std::string const& name : node->info.attributeOrder)
        {
            std::string value;
            StringGetValue(&node->info.attributes.at(name), &value);
            printf("%s = '%s', ", name.c_str(), value.c_str());
        }
    }
    putchar('\n');
    for (auto const& child : tree->children)
        PrintTree(child.get(), depth + 1);
}
