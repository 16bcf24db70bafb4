#include "image/ContainerContent.h"

#include "config/XmlAccess.h"
#include "image/CommandRunner.h"
#include "image/PathRules.h"
#include "image/ViewSettings.h"

#include <cstdio>
#include <string>
#include <sys/stat.h>

namespace
{
CXmlNode const* NodeOf(CXmlTree* tree)
{
    return tree ? GetTreeNode(tree) : nullptr;
}

// Reads an item's name; it must name one entry of the folder, or the item would land elsewhere.
bool ReadItemName(CXmlNode const* node, char const* tag, std::string* name)
{
    if (!GetNodeAttribute(node, "name", name))
    {
        std::fprintf(stderr, "Error: '%s' tag required attribute 'name' missing.\n", tag);
        return false;
    }
    if (!IsSingleComponentName(*name))
    {
        std::fprintf(stderr,
                     "Error: '%s' tag attribute 'name' value '%s' is not a single file name (it must not be "
                     "empty, '.' or '..', nor hold '/').\n",
                     tag, name->c_str());
        return false;
    }
    return true;
}
} // namespace

bool ProcessContainer(CXmlTree* containerTree, char const* containerPath, char const* viewName,
                      CDesktopDatabase* viewDatabase, EFinderRecordSet recordSet)
{
    CDesktopDatabase ownDatabase;
    bool const isVolumeRoot = !viewName || !viewDatabase;
    if (isVolumeRoot)
    {
        viewName = ".";
        viewDatabase = &ownDatabase;
    }

    bool success = true;
    size_t childCount = containerTree ? containerTree->children.size() : 0;
    for (size_t index = 0; index < childCount; ++index)
    {
        CXmlTree* child = containerTree->children[index].get();
        std::string tag = GetNodeType(NodeOf(child));
        bool isItem = true;
        bool itemResult = true;
        if (tag == "view")
        {
            isItem = false;
            if (!ProcessView(child, viewName, viewDatabase, containerPath, recordSet))
                success = false;
        }
        else if (tag == "file")
            itemResult = ProcessFile(child, containerPath);
        else if (tag == "folder")
            itemResult = ProcessFolder(child, containerPath, &ownDatabase, recordSet);
        else if (tag == "link")
            itemResult = ProcessLink(child, containerPath);
        else if (tag == "license" && isVolumeRoot)
            isItem = false; // read by the image pipeline before the volume is made
        else
        {
            isItem = false;
            std::fprintf(stderr, "Warning: Unknown container child tag '%s'.\n", tag.c_str());
        }

        if (isItem)
        {
            if (!itemResult)
                success = false;
            if (!ProcessItemView(child, &ownDatabase))
                success = false;
        }
    }

    if (!ownDatabase.IsEmpty())
    {
        ownDatabase.SetLong(".", MakeFourCharCode("QRVL"), 1);
        std::string databasePath = std::string(containerPath) + "/.DS_Store";
        // A desktop database copied in by a file item is about to be replaced: say so rather than
        // lose it silently.
        struct stat existing;
        if (lstat(databasePath.c_str(), &existing) == 0 && S_ISREG(existing.st_mode))
            std::fprintf(stderr, "Warning: The view settings replace the existing file '%s'.\n",
                         databasePath.c_str());
        ownDatabase.WriteToDisk(databasePath.c_str());
    }
    return success;
}

bool ProcessFolder(CXmlTree* folderTree, char const* containerPath, CDesktopDatabase* parentDatabase,
                   EFinderRecordSet recordSet)
{
    std::string name;
    if (!ReadItemName(NodeOf(folderTree), "folder", &name))
        return false;

    std::string folderPath = std::string(containerPath) + "/" + name;
    if (!RunCommand("mkdir " + QuoteArgument(folderPath)))
    {
        std::fprintf(stderr, "Error: Unable to create folder '%s'.\n", folderPath.c_str());
        return false;
    }
    return ProcessContainer(folderTree, folderPath.c_str(), name.c_str(), parentDatabase, recordSet);
}

bool ProcessFile(CXmlTree* fileTree, char const* containerPath)
{
    CXmlNode const* node = NodeOf(fileTree);
    std::string source;
    if (!GetNodeAttribute(node, "source", &source))
    {
        std::fprintf(stderr, "Error: 'file' tag required attribute 'source' missing.\n");
        return false;
    }
    std::string name;
    if (!ReadItemName(node, "file", &name))
        return false;
    bool required = true;
    GetNodeAttribute(node, "required", &required);

    std::string destination = std::string(containerPath) + "/" + name;
    if (!RunCommand("cp -r " + QuoteArgument(source) + " " + QuoteArgument(destination)) && required)
    {
        std::fprintf(stderr, "Error: Error copying file '%s' to '%s/%s'.\n", source.c_str(), containerPath,
                     name.c_str());
        return false;
    }
    return true;
}

bool ProcessLink(CXmlTree* linkTree, char const* containerPath)
{
    CXmlNode const* node = NodeOf(linkTree);
    std::string target;
    if (!GetNodeAttribute(node, "target", &target))
    {
        std::fprintf(stderr, "Error: 'link' tag required attribute 'target' missing.\n");
        return false;
    }
    std::string name;
    if (!ReadItemName(node, "link", &name))
        return false;

    std::string linkPath = std::string(containerPath) + "/" + name;
    if (!RunCommand("ln -s " + QuoteArgument(target) + " " + QuoteArgument(linkPath)))
    {
        std::fprintf(stderr, "Error: Error creating link to '%s' at '%s/%s'.\n", target.c_str(),
                     containerPath, name.c_str());
        return false;
    }
    return true;
}
