// The configuration walk: the document, its kilnpack element and each image element.
#include "app/ConfigDocument.h"

#include "config/KnownAttributes.h"
#include "config/XmlAccess.h"
#include "config/ImageOptions.h"
#include "pipeline/ImagePipeline.h"
#include "sys/Interruption.h"

#include <cstdio>

namespace
{
bool IsElementNamed(CXmlNode const* node, char const* name)
{
    return node && node->typeCode == kXmlNodeElement && node->text == name;
}

// Hands every child on, whatever the earlier ones gave. True when at least one child gave true and
// none gave false: a run that skipped part of what it was asked to build has failed. Children for
// which `counts` says no draw only their warning and don't decide the outcome.
bool PerformEachChild(CXmlTree* tree, bool (*perform)(CXmlTree*), char const* counts = nullptr)
{
    bool anyBuilt = false;
    bool anyFailed = false;
    for (auto const& child : tree->children)
    {
        if (GetPendingInterrupt() != 0)
            return false; // a stopped run builds nothing more
        bool const built = perform(child.get());
        if (!built && counts && !IsElementNamed(GetTreeNode(child.get()), counts))
            continue;
        anyBuilt = anyBuilt || built;
        anyFailed = anyFailed || !built;
    }
    return anyBuilt && !anyFailed;
}
} // namespace

bool PerformConfigFile(char const* path)
{
    std::unique_ptr<CFileData> data = ReadFileIntoMemory(path);
    if (!data)
        return false;
    std::unique_ptr<CXmlTree> tree = ParseXMLData(data.get());
    if (!tree)
        return false;
    return PerformRoot(tree.get());
}

bool PerformRoot(CXmlTree* tree)
{
    if (!tree || GetTreeNode(tree)->typeCode != kXmlNodeDocument)
        return false;
    return PerformEachChild(tree, PerformKilnPack);
}

bool PerformKilnPack(CXmlTree* tree)
{
    CXmlNode const* node = GetTreeNode(tree);
    if (!IsElementNamed(node, "kilnpack"))
    {
        fprintf(stderr, "Warning: Unknown tag '%s' read while expected 'kilnpack'.\n",
                GetNodeType(node).c_str());
        return false;
    }
    CheckElementAttributes(node);
    std::string version = GetNodeAttributeOrDefault(node, "version", "0.1");
    if (version != "0.1")
    {
        fprintf(stderr, "Warning: incompatiable kilnpack version '%s' skipped.\n", version.c_str());
        return false;
    }
    return PerformEachChild(tree, PerformImage, "image");
}

bool PerformImage(CXmlTree* tree)
{
    CXmlNode const* node = GetTreeNode(tree);
    if (!IsElementNamed(node, "image"))
    {
        fprintf(stderr, "Warning: Unknown tag '%s' read while expected 'image'.\n",
                GetNodeType(node).c_str());
        return false;
    }
    CheckTreeAttributes(tree);
    std::string file;
    if (!GetNodeAttribute(node, "file", &file))
    {
        fprintf(stderr, "Error: 'image' tag required attribute 'file' missing.\n");
        return false;
    }
    std::string name;
    if (!GetNodeAttribute(node, "name", &name))
    {
        fprintf(stderr, "Error: 'image' tag required attribute 'name' missing.\n");
        return false;
    }
    std::string openFolder;
    GetNodeAttribute(node, "open_folder", &openFolder);
    int size = 1024;
    // "auto" is the pipeline's to handle: it sizes the volume to its content.
    if (!IsAutoTemplateSize(node))
        GetNodeAttribute(node, "template_size", &size);
    return ProcessImage(tree, file.c_str(), name.c_str(), openFolder.c_str(), size);
}
