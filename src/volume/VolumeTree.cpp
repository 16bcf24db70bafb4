#include "volume/VolumeTree.h"

#include <algorithm>

CVolumeTree::CVolumeTree()
{
    CVolumeItem root;
    root.mode = 0755;
    m_items.push_back(std::move(root));
}

size_t CVolumeTree::Add(size_t parent, CVolumeItem item)
{
    item.parent = parent;
    m_items.push_back(std::move(item));
    size_t index = m_items.size() - 1;
    m_items[parent].children.push_back(index);
    return index;
}

void CVolumeTree::Compact()
{
    m_items.shrink_to_fit();
    for (CVolumeItem& item : m_items)
        item.children.shrink_to_fit();
}

void CVolumeTree::Detach(size_t index)
{
    if (index == kRoot)
        return;
    std::vector<size_t>& siblings = m_items[m_items[index].parent].children;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), index), siblings.end());
}

size_t CVolumeTree::FindChild(size_t folder, std::string const& name) const
{
    for (size_t child : m_items[folder].children)
    {
        if (m_items[child].name == name)
            return child;
    }
    return kNone;
}

size_t CVolumeTree::FindPath(std::string const& relativePath) const
{
    size_t current = kRoot;
    size_t start = 0;
    while (start <= relativePath.size())
    {
        size_t end = relativePath.find('/', start);
        if (end == std::string::npos)
            end = relativePath.size();
        std::string component = relativePath.substr(start, end - start);
        start = end + 1;
        if (component.empty() || component == ".")
            continue;
        if (m_items[current].kind != EVolumeItemKind::Folder)
            return kNone;
        current = FindChild(current, component);
        if (current == kNone)
            return kNone;
    }
    return current;
}

std::string CVolumeTree::GetPath(size_t index) const
{
    std::string path;
    while (index != kRoot)
    {
        path = path.empty() ? m_items[index].name : m_items[index].name + "/" + path;
        index = m_items[index].parent;
    }
    return path;
}

std::string CVolumeTree::GetSourcePath(size_t index) const
{
    std::vector<size_t> inside; // from the item up to, not including, the copied folder
    while (index != kRoot && m_items[index].sourceInFolder)
    {
        inside.push_back(index);
        index = m_items[index].parent;
    }
    std::string path = m_items[index].data.sourcePath;
    for (auto it = inside.rbegin(); it != inside.rend(); ++it)
    {
        path += '/';
        path += m_items[*it].name;
    }
    return path;
}
