// Reading and checking an image element's format, size, licence, icon and preview settings.
#include "config/ImageOptions.h"

#include "config/XmlAccess.h"
#include "udif/LicenseResources.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <strings.h>

namespace
{
char const* const kFormats[] = {"UDZO", "UDBZ", "ULMO", "UDRO"};

bool ReadFormat(CXmlNode const* node, std::string* format)
{
    std::string value;
    if (!GetNodeAttribute(node, "format", &value))
        return true;
    for (char const* known : kFormats)
    {
        if (strcasecmp(value.c_str(), known) == 0)
        {
            *format = known;
            return true;
        }
    }
    if (strcasecmp(value.c_str(), "ULFO") == 0)
        std::fprintf(stderr,
                     "Error: 'image' tag attribute 'format' value '%s' (LZFSE) is not available: no LZFSE "
                     "library ships with Debian, so kilnpack cannot write it on Linux. Use 'ULMO' (LZMA, "
                     "macOS 10.15 and later) or 'UDZO' (every macOS).\n",
                     value.c_str());
    else
        std::fprintf(
            stderr,
            "Error: 'image' tag attribute 'format' value '%s' is unknown; use 'UDZO', 'UDBZ', 'ULMO' "
            "or 'UDRO'.\n",
            value.c_str());
    return false;
}

bool ReadFilesystem(CXmlNode const* node, std::string* filesystem)
{
    std::string value;
    if (!GetNodeAttribute(node, "filesystem", &value))
        return true;
    for (char const* known : {"HFS+", "APFS"})
    {
        if (strcasecmp(value.c_str(), known) == 0)
        {
            *filesystem = known;
            return true;
        }
    }
    std::fprintf(stderr, "Error: 'image' tag attribute 'filesystem' value '%s' is unknown; use 'HFS+' or 'APFS'.\n",
                 value.c_str());
    return false;
}

bool ReadWholeFile(std::string const& path, std::string* contents)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream text;
    text << in.rdbuf();
    *contents = text.str();
    return !in.bad();
}

bool ReadLicenseText(CXmlNode const* node, CLicenseText* text)
{
    std::string file;
    if (!GetNodeAttribute(node, "language", &text->language))
    {
        std::fprintf(stderr, "Error: 'text' tag required attribute 'language' missing.\n");
        return false;
    }
    if (!IsKnownLicenseLanguage(text->language))
    {
        std::fprintf(stderr,
                     "Error: 'text' tag attribute 'language' value '%s' is not a known language (%s).\n",
                     text->language.c_str(), ListLicenseLanguages().c_str());
        return false;
    }
    if (!GetNodeAttribute(node, "file", &file))
    {
        std::fprintf(stderr, "Error: 'text' tag required attribute 'file' missing.\n");
        return false;
    }
    if (!ReadWholeFile(file, &text->contents))
    {
        std::fprintf(stderr, "Error: Unable to read license file '%s': %s.\n", file.c_str(),
                     std::strerror(errno));
        return false;
    }
    char const* const kButtons[] = {"agree", "disagree", "print", "save", "message"};
    for (int i = 0; i < 5; ++i)
        GetNodeAttribute(node, kButtons[i], &text->buttons[i]);
    return true;
}

bool ReadLicense(CXmlTree const* licenseTree, std::vector<CUdifResource>* resources)
{
    std::vector<CLicenseText> texts;
    for (auto const& child : licenseTree->children)
    {
        CXmlNode const* node = GetTreeNode(child.get());
        if (node->typeCode != kXmlNodeElement)
            continue;
        if (node->text != "text")
        {
            std::fprintf(stderr, "Warning: Unknown license child tag '%s'.\n", node->text.c_str());
            continue;
        }
        CLicenseText text;
        if (!ReadLicenseText(node, &text))
            return false;
        for (CLicenseText const& earlier : texts)
        {
            if (earlier.language == text.language)
            {
                std::fprintf(stderr, "Error: 'license' tag has two texts for language '%s'.\n",
                             text.language.c_str());
                return false;
            }
        }
        texts.push_back(std::move(text));
    }
    if (texts.empty())
    {
        std::fprintf(stderr, "Error: 'license' tag holds no 'text' tag.\n");
        return false;
    }
    std::string defaultLanguage = texts.front().language;
    GetNodeAttribute(GetTreeNode(licenseTree), "default_language", &defaultLanguage);
    bool found = false;
    for (CLicenseText const& text : texts)
        found = found || text.language == defaultLanguage;
    if (!found)
    {
        std::fprintf(stderr,
                     "Error: 'license' tag attribute 'default_language' value '%s' names no 'text' tag.\n",
                     defaultLanguage.c_str());
        return false;
    }
    std::string error;
    if (!BuildLicenseResources(texts, defaultLanguage, resources, &error))
    {
        std::fprintf(stderr, "Error: Unable to encode the license agreement (%s).\n", error.c_str());
        return false;
    }
    return true;
}
} // namespace

bool IsAutoTemplateSize(CXmlNode const* imageNode)
{
    std::string value;
    return GetNodeAttribute(imageNode, "template_size", &value) && strcasecmp(value.c_str(), "auto") == 0;
}

bool ReadImageOptions(CXmlTree const* imageTree, CImageOptions* options)
{
    CXmlNode const* node = GetTreeNode(imageTree);
    if (!ReadFormat(node, &options->format) || !ReadFilesystem(node, &options->filesystem))
        return false;
    options->autoSize = IsAutoTemplateSize(node);
    std::string icon;
    if (GetNodeAttribute(node, "icon", &icon))
        options->icon = icon;
    GetNodeAttribute(node, "preview", &options->preview);
    CXmlTree const* license = nullptr;
    for (auto const& child : imageTree->children)
    {
        CXmlNode const* childNode = GetTreeNode(child.get());
        if (childNode->typeCode != kXmlNodeElement || childNode->text != "license")
            continue;
        if (license)
        {
            std::fprintf(stderr, "Error: 'image' tag holds more than one 'license' tag.\n");
            return false;
        }
        license = child.get();
    }
    return !license || ReadLicense(license, &options->licenseResources);
}
