// Shared helpers of the image building tests: configuration snippets, a scripted command runner,
// temporary folders and desktop database records.
#pragma once

#include "config/XmlAccess.h"
#include "desktopdb/DesktopDatabase.h"
#include "image/CommandRunner.h"

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

// A parsed snippet; Root() is its top element, whose children the code under test walks.
class CConfigSnippet
{
public:
    explicit CConfigSnippet(std::string const& xml)
    {
        CFileData data(xml.begin(), xml.end());
        document = ParseXMLData(&data);
    }
    CXmlTree* Root() const
    {
        return document && !document->children.empty() ? document->children.front().get() : nullptr;
    }
    CXmlTree* Child(size_t index) const { return Root()->children.at(index).get(); }

    std::unique_ptr<CXmlTree> document;
};

// Records every command and answers 0, except for commands that begin with a failing prefix.
// The real runner comes back when the fake goes out of scope.
class CFakeRunner
{
public:
    CFakeRunner()
    {
        SetCommandHandler(
            [this](std::string const& text)
            {
                commands.push_back(text);
                if (onCommand)
                    onCommand(text);
                for (std::string const& prefix : failingPrefixes)
                {
                    if (text.compare(0, prefix.size(), prefix) == 0)
                        return 1;
                }
                return 0;
            });
    }
    ~CFakeRunner() { SetCommandHandler(nullptr); }
    CFakeRunner(CFakeRunner const&) = delete;
    CFakeRunner& operator=(CFakeRunner const&) = delete;

    void FailWhen(std::string prefix) { failingPrefixes.push_back(std::move(prefix)); }

    std::vector<std::string> commands;
    std::vector<std::string> failingPrefixes;
    std::function<void(std::string const&)> onCommand;
};

// A fresh folder under the system's temporary folder, removed with everything in it.
class CTempFolder
{
public:
    CTempFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "kiln-image-XXXXXX").string();
        path = mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~CTempFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    CTempFolder(CTempFolder const&) = delete;
    CTempFolder& operator=(CTempFolder const&) = delete;

    std::string path;
};

// The bytes of a blob record, or an empty vector with a test failure when there is none.
inline std::vector<unsigned char> BlobOf(CDesktopDatabase const& database, char const* name,
                                         unsigned int code)
{
    auto found = database.records.find(CDesktopDatabase::CDatabaseKey(name, code));
    if (found == database.records.end() || found->second.type != MakeFourCharCode("blob"))
    {
        ADD_FAILURE() << "no blob record for '" << name << "'";
        return {};
    }
    return std::vector<unsigned char>(found->second.data, found->second.data + found->second.size);
}

inline bool HasRecord(CDesktopDatabase const& database, char const* name, unsigned int code)
{
    return database.records.count(CDesktopDatabase::CDatabaseKey(name, code)) != 0;
}

inline std::vector<unsigned char> Bytes(std::initializer_list<int> values)
{
    std::vector<unsigned char> bytes;
    for (int value : values)
        bytes.push_back(static_cast<unsigned char>(value));
    return bytes;
}

inline std::vector<unsigned char> Concat(std::initializer_list<std::vector<unsigned char>> parts)
{
    std::vector<unsigned char> bytes;
    for (auto const& part : parts)
        bytes.insert(bytes.end(), part.begin(), part.end());
    return bytes;
}

inline std::vector<unsigned char> Text(char const* text)
{
    return std::vector<unsigned char>(text, text + std::char_traits<char>::length(text));
}
