// Reading a configuration file and the queries the configuration walk asks of its nodes.
#pragma once

#include "config/XmlTree.h"

#include <memory>
#include <string>
#include <vector>

using CFileData = std::vector<unsigned char>;

std::unique_ptr<CFileData> ReadFileIntoMemory(char const* path);
std::unique_ptr<CXmlTree> ParseXMLData(CFileData const* data);

bool IsValidUtf8(std::string const& text);
// Text is UTF-8: false (target untouched) for a null string or one that is not valid UTF-8.
bool StringGetValue(std::string const* text, std::string* target);
std::string GetNodeType(CXmlNode const* node);
CXmlNode const* GetTreeNode(CXmlTree const* tree);

// An attribute whose value is not valid UTF-8 is reported as an error and counts as absent.
bool GetNodeAttribute(CXmlNode const* node, char const* name, std::string* target);
bool GetNodeAttribute(CXmlNode const* node, char const* name, bool* target);
bool GetNodeAttribute(CXmlNode const* node, char const* name, int* target);
std::string GetNodeAttributeOrDefault(CXmlNode const* node, char const* name, char const* fallback);
bool GetNodeAttributeOrDefault(CXmlNode const* node, char const* name, bool fallback);
int GetNodeAttributeOrDefault(CXmlNode const* node, char const* name, int fallback);

void PrintTree(CXmlTree const* tree, int depth);
