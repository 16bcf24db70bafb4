// Writing and reading the XML property list that carries an image's resources.
#include "udif/UdifPlist.h"

#include "io/PropertyList.h"

#include <plist/plist.h>

#include <cstdlib>
#include <memory>

namespace
{
// Resource attributes the platform's tools give the block tables, and other resources.
constexpr char const* kBlkxAttributes = "0x0050";
constexpr char const* kPlainAttributes = "0x0000";
// The 'plst' resource is a zeroed block of this size in images the platform writes.
constexpr size_t kPlstSize = 0x600;

constexpr char const* kOutOfMemory = "out of memory building the image's property list";

struct CPlistDeleter
{
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using CPlistPtr = std::unique_ptr<void, CPlistDeleter>;

// Takes ownership of `item` into `dict`; keys are added in sorted order, as a property list writer would.
// Fails only when `item` could not be made.
[[nodiscard]] bool SetItem(plist_t dict, char const* key, plist_t item)
{
    if (!item)
        return false;
    plist_dict_set_item(dict, key, item);
    return true;
}

// A resource's dictionary, or null when memory runs out.
plist_t MakeResource(std::string const& name, std::string const& id, std::vector<uint8_t> const& data,
                     bool withCFName, char const* attributes = kBlkxAttributes)
{
    CPlistPtr dict(plist_new_dict());
    if (!dict || !SetItem(dict.get(), "Attributes", plist_new_string(attributes)) ||
        (withCFName && !SetItem(dict.get(), "CFName", plist_new_string(name.c_str()))) ||
        !SetItem(dict.get(), "Data",
                 plist_new_data(reinterpret_cast<char const*>(data.data()), data.size())) ||
        !SetItem(dict.get(), "ID", plist_new_string(id.c_str())) ||
        !SetItem(dict.get(), "Name", plist_new_string(name.c_str())))
        return nullptr;
    return dict.release();
}

// Appends a new resource to `array`; fails when memory runs out.
[[nodiscard]] bool AppendResource(plist_t array, plist_t resource, std::string* error)
{
    if (!resource)
    {
        *error = kOutOfMemory;
        return false;
    }
    plist_array_append_item(array, resource);
    return true;
}

[[nodiscard]] bool WritePlistXml(plist_t root, std::string* text, std::string* error)
{
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root, &xml, &length);
    if (!xml)
    {
        *error = "could not write the image's property list as XML";
        return false;
    }
    text->assign(xml, length);
    plist_to_xml_free(xml);
    return true;
}

// Removes the resource with `id` from the array, if there is one.
void RemoveResource(plist_t array, std::string const& id)
{
    for (uint32_t i = plist_array_get_size(array); i-- > 0;)
    {
        plist_t idNode = plist_dict_get_item(plist_array_get_item(array, i), "ID");
        char* text = nullptr;
        if (idNode && plist_get_node_type(idNode) == PLIST_STRING)
            plist_get_string_val(idNode, &text);
        bool const same = text && id == text;
        free(text);
        if (same)
            plist_array_remove_item(array, i);
    }
}
} // namespace

bool BuildUdifPlist(std::vector<CBlkxResource> const& tables, std::string* xml, std::string* error)
{
    CPlistPtr root(plist_new_dict());
    plist_t fork = plist_new_dict();
    plist_t blkx = plist_new_array();
    plist_t plst = plist_new_array();
    if (!root || !fork || !blkx || !plst)
    {
        plist_free(fork);
        plist_free(blkx);
        plist_free(plst);
        *error = kOutOfMemory;
        return false;
    }
    plist_dict_set_item(root.get(), "resource-fork", fork);
    plist_dict_set_item(fork, "blkx", blkx);
    plist_dict_set_item(fork, "plst", plst);
    for (CBlkxResource const& table : tables)
        if (!AppendResource(blkx, MakeResource(table.name, std::to_string(table.id), table.data, true),
                            error))
            return false;
    return AppendResource(plst, MakeResource("", "0", std::vector<uint8_t>(kPlstSize, 0), false), error) &&
           WritePlistXml(root.get(), xml, error);
}

bool AddResourcesToUdifPlist(std::string const& xml, std::vector<CUdifResource> const& resources,
                             std::string* edited, std::string* error)
{
    plist_t parsed = ParsePropertyList(xml.data(), xml.size());
    CPlistPtr root(parsed);
    plist_t fork = root && plist_get_node_type(root.get()) == PLIST_DICT
                       ? plist_dict_get_item(root.get(), "resource-fork")
                       : nullptr;
    if (!fork || plist_get_node_type(fork) != PLIST_DICT)
    {
        *error = "the image's property list has no resource fork";
        return false;
    }
    for (CUdifResource const& resource : resources)
    {
        plist_t array = plist_dict_get_item(fork, resource.type.c_str());
        if (!array)
        {
            array = plist_new_array();
            if (!SetItem(fork, resource.type.c_str(), array))
            {
                *error = kOutOfMemory;
                return false;
            }
        }
        if (plist_get_node_type(array) != PLIST_ARRAY)
        {
            *error = "the image's resource fork holds no list of '" + resource.type + "'";
            return false;
        }
        std::string const id = std::to_string(resource.id);
        RemoveResource(array, id);
        if (!AppendResource(array, MakeResource(resource.name, id, resource.data, false, kPlainAttributes),
                            error))
            return false;
    }
    return WritePlistXml(root.get(), edited, error);
}
