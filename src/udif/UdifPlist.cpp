#include "udif/UdifPlist.h"

#include <plist/plist.h>

#include <memory>
#include <stdexcept>

namespace
{
// Resource attributes the platform's tools give these resources.
constexpr char const* kAttributes = "0x0050";
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
                     bool withCFName)
{
    CPlistPtr dict(plist_new_dict());
    if (!dict)
        throw std::runtime_error("out of memory building the image's property list");
    SetItem(dict.get(), "Attributes", plist_new_string(kAttributes));
    if (withCFName)
        SetItem(dict.get(), "CFName", plist_new_string(name.c_str()));
    SetItem(dict.get(), "Data", plist_new_data(reinterpret_cast<char const*>(data.data()), data.size()));
    SetItem(dict.get(), "ID", plist_new_string(id.c_str()));
    SetItem(dict.get(), "Name", plist_new_string(name.c_str()));
    return dict.release();
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

    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root.get(), &xml, &length);
    if (!xml)
        throw std::runtime_error("could not write the image's property list as XML");
    std::string text(xml, length);
    plist_to_xml_free(xml);
    return text;
}
