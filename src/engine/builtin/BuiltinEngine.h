// The builtin engine: the disk-image work done in process. create writes a small sparse disk with an
// empty volume; attach hands out a mount point name only and holds the volume as a tree in memory,
// which the folder, copy, link, Finder info, bless and picture requests fill (a copy records its
// source, whose bytes stay where they are); detach plans the volume from the tree; convert streams the
// planned disk, reading each source file once, straight into the compressed image.
#pragma once

#include "engine/DiskImageEngine.h"
#include "engine/builtin/VolumeWriter.h"
#include "gpt/GuidPartitionMap.h"
#include "volume/VolumeTree.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CBuiltinEngine : public CDiskImageEngine
{
public:
    int Run(CEngineRequest const& request) override;
    bool MakeMountPoint(std::string* mountPoint, std::string* error) override;
    void SetLicence(std::vector<CUdifResource> resources) override { m_licence = std::move(resources); }
    bool AddLicence(std::string const&, std::string*) override { return true; } // the convert put it in
    EVolumeEntry LookUp(std::string const& path) override;
    bool ReadFile(std::string const& path, std::vector<uint8_t>* bytes, std::string* error) override;
    bool WriteFile(std::string const& path, std::vector<uint8_t> bytes, std::string* error) override;
    CFinderInfo ReadFinderInfo(std::string const& path) override;
    bool MakeAlias(std::string const& fromFolder, std::string const& target, CAliasHandle* alias,
                   std::string* error) override;

    // One handler per request (Run dispatches).
    int Handle(CCreateRequest const& request);
    int Handle(CAttachRequest const& request);
    int Handle(CDetachRequest const& request);
    int Handle(CResizeRequest const& request);
    int Handle(CConvertRequest const& request);
    int Handle(CBlessRequest const& request);
    int Handle(CFinderInfoRequest const& request);
    int Handle(CRetinaJoinRequest const& request);
    int Handle(CMakeFolderRequest const& request);
    int Handle(CCopyRequest const& request);
    int Handle(CLinkRequest const& request);
    int Handle(CRemoveRequest const& request);

private:
    // The attached volume.
    struct CVolume
    {
        std::string sparseImage; // as the attach named it
        std::string mountPoint;  // as the attach named it; nothing is made there
        std::string volumeName;
        uint32_t createDate = 0;
        CPartitionLayout layout;
        bool apfs = false; // an APFS container, else an HFS+ volume
        CVolumeTree tree;
        // Catalog node IDs handed out while attached (bless, alias records), by the path relative to
        // the volume root; the volume writer gives these items exactly these IDs.
        std::map<std::string, uint32_t> promisedIds;
        uint32_t nextCatalogId = 0;
        uint32_t openFolderId = 0;
        // A copy that took an item no volume can hold fails the detach, as writing the volume would.
        std::string detachFailure;
    };
    // A detached volume, planned and waiting for its convert, by its sparse image's path.
    struct CPlannedDisk
    {
        std::unique_ptr<CVolumeTree> tree; // the plan refers to it until it is streamed
        CPartitionLayout layout;
        std::string guidSeed;
        CPlannedVolume volume;
    };

    // The volume path of `path` (under the mount point; "" for the root), or false.
    bool ToVolumePath(std::string const& path, std::string* relative) const;
    // The item at `path` on the attached volume, or CVolumeTree::kNone.
    size_t FindItem(std::string const& path) const;
    // The folder and name a new item at `path` goes to; false with a reason when it can't go there.
    bool FindNewItemPlace(std::string const& path, size_t* parent, std::string* name, std::string* error) const;
    uint32_t PromiseCatalogId(std::string const& relativePath);

    std::optional<CVolume> m_volume;
    std::map<std::string, CPlannedDisk> m_planned;
    std::vector<CUdifResource> m_licence;
};
