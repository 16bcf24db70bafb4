// Reading a configuration file and the queries the configuration walk asks of its nodes.
#pragma once

#include "config/XmlTree.h"

#include <memory>
#include <string>
#include <vector>

using CFileData = std::vector<unsigned char>;

std::unique_ptr<CFileData> ReadFileIntoMemory(char const* path);
std::unique_ptr<CXmlTree> ParseXMLData(CFileData const* data);

bool StringGetValue(std::string const* text, std::string* target);
std::string GetNodeType(CXmlNode const* node);
CXmlNode const* GetTreeNode(CXmlTree const* tree);

bool GetNodeAttribute(CXmlNode const* node, char const* name, std::string* target);
bool GetNodeAttribute(CXmlNode const* node, char const* name, bool* target);
bool GetNodeAttribute(CXmlNode const* node, char const* name, int* target);
std::string GetNodeAttributeOrDefault(CXmlNode const* node, char const* name, char const* fallback);
bool GetNodeAttributeOrDefault(CXmlNode const* node, char const* name, bool fallback);
int GetNodeAttributeOrDefault(CXmlNode const* node, char const* name, int fallback);

void PrintTree(CXmlTree const* tree, int depth);
