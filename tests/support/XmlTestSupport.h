// Parsing configuration text in tests.
#pragma once

#include "config/XmlAccess.h"

#include <memory>
#include <string>

inline std::unique_ptr<CXmlTree> ParseText(std::string const& text)
{
    CFileData data(text.begin(), text.end());
    return ParseXMLData(&data);
}

// The element of a one-element document, e.g. ParseText("<e a='1'/>").
inline CXmlNode const* GetFirstNode(CXmlTree const* document)
{
    return GetTreeNode(document->children.at(0).get());
}
