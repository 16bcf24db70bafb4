// The volume as the configuration fills it, held in memory: its folders, files and links with what
// each holds, before any file system is written. The volume writers (HFS+, APFS) take the tree as it
// is; a copied file's bytes stay in their source until a writer streams them into the image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum class EVolumeItemKind : uint8_t
{
    Folder,
    File,
    Symlink
};

// Where a file's bytes come from: a host file, read once when the volume is written (with its
// modification time as it was when it was listed, so that a change in between is caught), or bytes
// kilnpack made itself (desktop databases, pictures). A folder copied from the host keeps its host
// path here too, so that what was copied inside it needs none of its own (see `sourceInFolder`).
struct CVolumeFileData
{
    std::string sourcePath;
    int64_t sourceModifiedNanoseconds = 0; // since 1970
    std::shared_ptr<std::vector<uint8_t> const> bytes;
};

struct CVolumeItem
{
    // Ordered so that the small fields share one word: a tree holds one item per file.
    EVolumeItemKind kind = EVolumeItemKind::Folder;
    uint16_t mode = 0;            // permission bits, set-id and sticky bits included (07777)
    uint16_t finderFlags = 0;     // the flags word of the item's Finder info
    // Copied as part of its folder: its source is the folder's source and its name (GetSourcePath),
    // which spares a large copy one full host path per item.
    bool sourceInFolder = false;
    std::string name;             // one path component, UTF-8 as given; the root's is empty
    size_t parent = 0;            // the folder that holds it (the root holds itself)
    std::vector<size_t> children; // folders: in the order they were added
    int64_t modifiedTime = 0;     // seconds since 1970
    uint64_t size = 0;            // files: data length; links: target length
    CVolumeFileData data;         // files, and folders copied from the host
    std::string linkTarget;       // links only, exactly as given
};

class CVolumeTree
{
public:
    static constexpr size_t kRoot = 0;
    static constexpr size_t kNone = size_t(-1);

    // A lone root folder (mode 0755).
    CVolumeTree();

    // Adds `item` to the folder `parent` and returns its index; indexes stay valid for the tree's life.
    size_t Add(size_t parent, CVolumeItem item);
    // Gives back the room held for items not yet added, once the tree is complete.
    void Compact();
    // Takes the item out of its folder (it no longer belongs to the volume); its index stays unused.
    void Detach(size_t index);

    CVolumeItem& Get(size_t index) { return m_items[index]; }
    CVolumeItem const& Get(size_t index) const { return m_items[index]; }
    // Every index ever handed out, detached items included.
    size_t GetCount() const { return m_items.size(); }

    // The child of `folder` named exactly `name`, or kNone.
    size_t FindChild(size_t folder, std::string const& name) const;
    // The item at a relative path ("a/b/c"; "" or "." is the root), never following a link: kNone
    // when a component is missing, or is a file or a link where a folder must be.
    size_t FindPath(std::string const& relativePath) const;
    // The item's path relative to the root ("" for the root).
    std::string GetPath(size_t index) const;
    // The host path the item was copied from, "" for what kilnpack made itself.
    std::string GetSourcePath(size_t index) const;

private:
    std::vector<CVolumeItem> m_items;
};
