// Writing and reading the XML property list that carries an image's resources.
#include "udif/UdifPlist.h"

#include <plist/plist.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace
{
// Resource attributes the platform's tools give the block tables, and other resources.
constexpr char const* kBlkxAttributes = "0x0050";
constexpr char const* kPlainAttributes = "0x0000";
// The 'plst' resource is a zeroed block of this size in images the platform writes.
constexpr size_t kPlstSize = 0x600;

struct CPlistDeleter
{
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using CPlistPtr = std::unique_ptr<void, CPlistDeleter>;

// Takes ownership of `item` into `dict`; keys are added in sorted order, as a property list writer would.
void SetItem(plist_t dict, char const* key, plist_t item)
{
    if (!item)
        throw std::runtime_error("out of memory building the image's property list");
    plist_dict_set_item(dict, key, item);
}

plist_t MakeResource(std::string const& name, std::string const& id, std::vector<uint8_t> const& data,
                     bool withCFName, char const* attributes = kBlkxAttributes)
{
    CPlistPtr dict(plist_new_dict());
    if (!dict)
        throw std::runtime_error("out of memory building the image's property list");
    SetItem(dict.get(), "Attributes", plist_new_string(attributes));
    if (withCFName)
        SetItem(dict.get(), "CFName", plist_new_string(name.c_str()));
    SetItem(dict.get(), "Data", plist_new_data(reinterpret_cast<char const*>(data.data()), data.size()));
    SetItem(dict.get(), "ID", plist_new_string(id.c_str()));
    SetItem(dict.get(), "Name", plist_new_string(name.c_str()));
    return dict.release();
}

std::string WritePlistXml(plist_t root)
{
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root, &xml, &length);
    if (!xml)
        throw std::runtime_error("could not write the image's property list as XML");
    std::string text(xml, length);
    plist_to_xml_free(xml);
    return text;
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

std::string BuildUdifPlist(std::vector<CBlkxResource> const& tables)
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
        throw std::runtime_error("out of memory building the image's property list");
    }
    SetItem(root.get(), "resource-fork", fork);
    SetItem(fork, "blkx", blkx);
    SetItem(fork, "plst", plst);
    for (CBlkxResource const& table : tables)
        plist_array_append_item(blkx, MakeResource(table.name, std::to_string(table.id), table.data, true));
    plist_array_append_item(plst, MakeResource("", "0", std::vector<uint8_t>(kPlstSize, 0), false));
    return WritePlistXml(root.get());
}

std::string AddResourcesToUdifPlist(std::string const& xml, std::vector<CUdifResource> const& resources)
{
    plist_t parsed = nullptr;
    plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &parsed);
    CPlistPtr root(parsed);
    plist_t fork = root && plist_get_node_type(root.get()) == PLIST_DICT
                       ? plist_dict_get_item(root.get(), "resource-fork")
                       : nullptr;
    if (!fork || plist_get_node_type(fork) != PLIST_DICT)
        throw std::runtime_error("the image's property list has no resource fork");
    for (CUdifResource const& resource : resources)
    {
        plist_t array = plist_dict_get_item(fork, resource.type.c_str());
        if (!array)
        {
            array = plist_new_array();
            SetItem(fork, resource.type.c_str(), array);
        }
        if (plist_get_node_type(array) != PLIST_ARRAY)
            throw std::runtime_error("the image's resource fork holds no list of '" + resource.type + "'");
        std::string const id = std::to_string(resource.id);
        RemoveResource(array, id);
        plist_array_append_item(array,
                                MakeResource(resource.name, id, resource.data, false, kPlainAttributes));
    }
    return WritePlistXml(root.get());
}
