// The parsed configuration document: a tree of nodes in document order.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

// Node kinds, numbered as XML node types usually are; the walk tests only document and element.
constexpr int kXmlNodeDocument = 1;
constexpr int kXmlNodeElement = 2;
constexpr int kXmlNodeText = 6;
constexpr int kXmlNodeCData = 7;

struct CXmlElementInfo
{
    std::map<std::string, std::string> attributes; // name -> value, UTF-8
    std::vector<std::string> attributeOrder;       // names as they stand in the element
};

struct CXmlNode
{
    int typeCode = 0;
    std::string text; // UTF-8: tag name of an element, content of a text or CDATA node
    bool hasInfo = false;
    CXmlElementInfo info; // elements only
};

struct CXmlTree
{
    CXmlNode node;
    std::vector<std::unique_ptr<CXmlTree>> children; // document order
};
