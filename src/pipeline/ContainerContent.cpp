// The container walk: making each folder, file and link of a container and its desktop database.
#include "pipeline/ContainerContent.h"

#include "config/XmlAccess.h"
#include "engine/CommandRunner.h"
#include "pipeline/FolderNames.h"
#include "pipeline/FinderFlags.h"
#include "config/PathRules.h"
#include "pipeline/ViewSettings.h"
#include "sys/Interruption.h"

#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

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

// A second item whose name the volume can't tell from an earlier one's would merge with it, and
// through a link of that name write outside the volume; it is refused and not made.
bool ClaimItemName(CXmlNode const* node, std::string const& tag, char const* containerPath, CFolderNames* names)
{
    std::string name;
    std::string taken;
    if (!GetNodeAttribute(node, "name", &name) || names->Claim(name, &taken))
        return true;
    std::fprintf(stderr,
                 "Error: '%s' tag name '%s' is the same on the volume as the earlier item '%s' in '%s'; it is "
                 "not created.\n",
                 tag.c_str(), name.c_str(), taken.c_str(), containerPath);
    return false;
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
    CFolderNames names;
    size_t childCount = containerTree ? containerTree->children.size() : 0;
    for (size_t index = 0; index < childCount; ++index)
    {
        // A build that is being stopped makes nothing more; what exists is cleaned up by the caller.
        if (GetPendingInterrupt() != 0)
            return false;
        CXmlTree* child = containerTree->children[index].get();
        std::string tag = GetNodeType(NodeOf(child));
        bool isItem = true;
        bool itemResult = true;
        if ((tag == "file" || tag == "folder" || tag == "link") &&
            !ClaimItemName(NodeOf(child), tag, containerPath, &names))
        {
            success = false;
            continue;
        }
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
        // lose it silently. A link of that name is replaced too, never written through: it may lead
        // out of the volume.
        struct stat existing;
        if (lstat(databasePath.c_str(), &existing) == 0 && (S_ISREG(existing.st_mode) || S_ISLNK(existing.st_mode)))
        {
            std::fprintf(stderr, "Warning: The view settings replace the existing file '%s'.\n",
                         databasePath.c_str());
            if (S_ISLNK(existing.st_mode))
                unlink(databasePath.c_str());
        }
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
    if (!RunCommand("mkdir " + QuotePathArgument(folderPath)))
    {
        std::fprintf(stderr, "Error: Unable to create folder '%s'.\n", folderPath.c_str());
        return false;
    }
    bool flagged = ProcessItemFinderFlags(NodeOf(folderTree), folderPath);
    return ProcessContainer(folderTree, folderPath.c_str(), MakeRecordName(name).c_str(), parentDatabase, recordSet) &&
           flagged;
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
    if (!RunCommand("cp -r " + QuotePathArgument(source) + " " + QuotePathArgument(destination)))
    {
        if (!required)
            return true;
        std::fprintf(stderr, "Error: Error copying file '%s' to '%s/%s'.\n", source.c_str(), containerPath,
                     name.c_str());
        return false;
    }
    return ProcessItemFinderFlags(node, destination);
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
    // The link's text is kept exactly as given, so one that begins with "-" follows the end of
    // the options instead of being made into a path.
    std::string const endOfOptions = !target.empty() && target[0] == '-' ? "-- " : "";
    if (!RunCommand("ln -s " + endOfOptions + QuoteArgument(target) + " " + QuotePathArgument(linkPath)))
    {
        std::fprintf(stderr, "Error: Error creating link to '%s' at '%s/%s'.\n", target.c_str(),
                     containerPath, name.c_str());
        return false;
    }
    return ProcessItemFinderFlags(node, linkPath);
}
