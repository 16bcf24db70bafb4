// Reading and checking an image element's format, size, licence, icon and preview settings.
#include "config/ImageOptions.h"

#include "config/XmlAccess.h"
#include "io/RegularInputFile.h"
#include "udif/LicenseResources.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

namespace
{
bool ReadFormat(CXmlNode const* node, CImageFormat const** format)
{
    std::string value;
    if (!GetNodeAttribute(node, "format", &value))
        return true;
    if (CImageFormat const* known = FindImageFormat(value))
    {
        *format = known;
        return true;
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
    std::vector<uint8_t> bytes;
    std::string reason;
    EInputFile const read = ReadRegularInputFile(file, kMaxLicenseTextBytes, &bytes, &reason);
    if (read != EInputFile::Opened)
    {
        std::fprintf(stderr, "Error: Unable to read license file '%s': %s%s.\n", file.c_str(), reason.c_str(),
                     read == EInputFile::TooLarge ? ", the most a licence text may take" : "");
        return false;
    }
    text->contents.assign(bytes.begin(), bytes.end());
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

// The identity is opened and checked now, and again when the image is signed: no key is held while
// the volume is built.
bool ReadSignature(CXmlNode const* node, CSigningSettings* settings)
{
    if (!GetNodeAttribute(node, "identity", &settings->identity))
    {
        std::fprintf(stderr, "Error: 'signature' tag required attribute 'identity' missing.\n");
        return false;
    }
    GetNodeAttribute(node, "password_env", &settings->passwordVariable);
    GetNodeAttribute(node, "timestamp_url", &settings->timestampUrl);
    if (settings->identity == "-" && !settings->timestampUrl.empty())
    {
        std::fprintf(stderr, "Warning: 'signature' tag attribute 'timestamp_url' is not used: an ad-hoc signature "
                             "has no signer to time-stamp.\n");
        settings->timestampUrl.clear();
    }
    CSigningIdentity identity;
    std::string error;
    if (!identity.Load(*settings, &error))
    {
        std::fprintf(stderr, "Error: Unable to sign the image: %s.\n", error.c_str());
        return false;
    }
    return true;
}

// The image's only child element of that name; two are an error.
bool FindSingleChild(CXmlTree const* imageTree, char const* name, CXmlTree const** found)
{
    *found = nullptr;
    for (auto const& child : imageTree->children)
    {
        CXmlNode const* childNode = GetTreeNode(child.get());
        if (childNode->typeCode != kXmlNodeElement || childNode->text != name)
            continue;
        if (*found)
        {
            std::fprintf(stderr, "Error: 'image' tag holds more than one '%s' tag.\n", name);
            return false;
        }
        *found = child.get();
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
    CXmlTree const* signature = nullptr;
    if (!FindSingleChild(imageTree, "license", &license) || !FindSingleChild(imageTree, "signature", &signature))
        return false;
    if (license && !ReadLicense(license, &options->licenseResources))
        return false;
    if (signature && !ReadSignature(GetTreeNode(signature), &options->signature.emplace()))
        return false;
    return true;
}
