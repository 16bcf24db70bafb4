// Shared helpers of the image building tests: configuration snippets, a scripted command runner,
// a stand-in volume and desktop database records.
#pragma once

#include "config/XmlAccess.h"
#include "desktopdb/DesktopDatabase.h"
#include "engine/CommandRunner.h"
#include "support/EnvironmentSetting.h"
#include "support/FileBytes.h"
#include "support/RecordCodes.h"
#include "support/ShellCommand.h"
#include "support/TempFolder.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <png.h>
#include <sstream>
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

// Points TMPDIR at a private folder while it lives, so that mount points made by the pipeline land
// there and can be checked; the previous setting comes back afterwards.
class CTemporaryDirectoryScope
{
public:
    CTempFolder folder;

private:
    CEnvironmentSetting setting{"TMPDIR", folder.path.c_str()};
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

// The mount point named by an attach command, or empty text for any other command.
inline std::string MountPointOf(std::string const& command)
{
    std::string const marker = " -mountpoint \"";
    size_t start = command.find(marker);
    if (command.rfind("hdiutil attach ", 0) != 0 || start == std::string::npos || command.back() != '"')
        return "";
    start += marker.size();
    return command.substr(start, command.size() - 1 - start);
}

// An empty volume attached by the stand-in disk-image tool at `mountPoint`, so that items on it
// can be aliased; detached again at the end.
class CStandInVolume
{
public:
    CStandInVolume()
    {
        std::string image = folder.path + "/volume.sparseimage";
        mountPoint = folder.path + "/volume";
        std::filesystem::create_directory(mountPoint);
        testing::internal::CaptureStdout();
        attached = RunToolCommand(MakeCreateCommand("Test", 4, image)) &&
                   RunToolCommand(MakeAttachCommand(image, mountPoint));
        testing::internal::GetCapturedStdout();
    }
    ~CStandInVolume()
    {
        if (!attached)
            return;
        testing::internal::CaptureStdout();
        RunToolCommand(MakeDetachCommand(mountPoint, true));
        testing::internal::GetCapturedStdout();
    }
    CStandInVolume(CStandInVolume const&) = delete;
    CStandInVolume& operator=(CStandInVolume const&) = delete;

    CTempFolder folder;
    std::string mountPoint;
    bool attached = false;
};

// An opaque RGB picture, every sample 0x80.
inline void WritePng(std::string const& path, unsigned int width, unsigned int height)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.format = PNG_FORMAT_RGB;
    image.width = width;
    image.height = height;
    std::vector<unsigned char> pixels(size_t(width) * height * 3, 0x80);
    ASSERT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), 0, nullptr)) << image.message;
}
