// The table of known elements and attributes, and the check that warns about any other.
#include "config/KnownAttributes.h"

#include "config/XmlAccess.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

namespace
{
constexpr EAttributeKind kText = EAttributeKind::Text;
constexpr EAttributeKind kInteger = EAttributeKind::Integer;
constexpr EAttributeKind kBoolean = EAttributeKind::Boolean;
constexpr EAttributeKind kWord = EAttributeKind::Word;
} // namespace

std::vector<CKnownAttribute> const& GetKnownAttributes()
{
    static std::vector<CKnownAttribute> const kTable = {
        {"kilnpack", "version", kText, {}, true},
        {"image", "file", kText, {}, false},
        {"image", "name", kText, {}, false},
        {"image", "open_folder", kText, {}, false},
        {"image", "template_size", kText, {}, false}, // megabytes, or "auto"
        {"image", "finder_records", kWord, {"legacy", "modern", "both"}, true},
        {"image", "format", kWord, {"UDZO", "UDBZ", "ULMO", "UDRO"}, true},
        {"image", "filesystem", kWord, {"HFS+", "APFS"}, true},
        {"image", "icon", kText, {}, false},
        {"image", "preview", kText, {}, false},
        {"license", "default_language", kText, {}, false},
        {"signature", "identity", kText, {}, false}, // a .p12 file, or "-" for ad-hoc
        {"signature", "password_env", kText, {}, false},
        {"signature", "timestamp_url", kText, {}, false},
        {"text", "language", kText, {}, false},
        {"text", "file", kText, {}, false},
        {"text", "agree", kText, {}, false},
        {"text", "disagree", kText, {}, false},
        {"text", "print", kText, {}, false},
        {"text", "save", kText, {}, false},
        {"text", "message", kText, {}, false},
        {"folder", "name", kText, {}, false},
        {"folder", "x", kInteger, {}, false},
        {"folder", "y", kInteger, {}, false},
        {"folder", "hide_extension", kBoolean, {}, false},
        {"folder", "hidden", kBoolean, {}, false},
        {"file", "source", kText, {}, false},
        {"file", "name", kText, {}, false},
        {"file", "required", kBoolean, {}, false},
        {"file", "x", kInteger, {}, false},
        {"file", "y", kInteger, {}, false},
        {"file", "hide_extension", kBoolean, {}, false},
        {"file", "hidden", kBoolean, {}, false},
        {"link", "target", kText, {}, false},
        {"link", "name", kText, {}, false},
        {"link", "x", kInteger, {}, false},
        {"link", "y", kInteger, {}, false},
        {"link", "hide_extension", kBoolean, {}, false},
        {"link", "hidden", kBoolean, {}, false},
        {"view", "type", kWord, {"icon"}, true},
        {"view", "x", kInteger, {}, false},
        {"view", "y", kInteger, {}, false},
        {"view", "width", kInteger, {}, false},
        {"view", "height", kInteger, {}, false},
        {"view", "show_toolbar", kBoolean, {}, false},
        {"view", "grid", kBoolean, {}, false},
        {"view", "icon_size", kInteger, {}, false},
        {"view", "text_position", kWord, {"right", "bottom"}, false},
        {"view", "toolbar_width", kInteger, {}, false},
        {"view", "font_size", kInteger, {}, false},
        {"view", "background", kText, {}, false},
        {"view", "background_color", kText, {}, false},
    };
    return kTable;
}

void CheckElementAttributes(CXmlNode const* node)
{
    if (!node || node->typeCode != kXmlNodeElement || !node->hasInfo)
        return;
    bool elementKnown = false;
    for (CKnownAttribute const& row : GetKnownAttributes())
        elementKnown = elementKnown || node->text == row.element;
    if (!elementKnown)
        return;
    for (std::string const& name : node->info.attributeOrder)
    {
        CKnownAttribute const* known = nullptr;
        for (CKnownAttribute const& row : GetKnownAttributes())
        {
            if (node->text == row.element && name == row.attribute)
                known = &row;
        }
        std::string value;
        GetNodeAttribute(node, name.c_str(), &value);
        if (!known)
        {
            std::fprintf(stderr, "Warning: '%s' tag has unknown attribute '%s' (value '%s'). Skipping.\n",
                         node->text.c_str(), name.c_str(), value.c_str());
            continue;
        }
        if (known->kind != EAttributeKind::Word || known->valueCheckedByReader ||
            !GetNodeAttribute(node, name.c_str(), &value))
            continue;
        bool inSet = false;
        for (char const* allowed : known->values)
            inSet = inSet || strcasecmp(value.c_str(), allowed) == 0;
        if (!inSet)
            std::fprintf(stderr, "Warning: '%s' tag attribute '%s' has unknown value '%s'.\n", node->text.c_str(),
                         name.c_str(), value.c_str());
    }
}

void CheckTreeAttributes(CXmlTree const* tree)
{
    if (!tree)
        return;
    CheckElementAttributes(&tree->node);
    for (auto const& child : tree->children)
        CheckTreeAttributes(child.get());
}
