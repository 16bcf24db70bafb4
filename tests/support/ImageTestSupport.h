// Shared helpers of the image building tests: configuration snippets, a recording engine, a
// stand-in volume and desktop database records.
#pragma once

#include "config/XmlAccess.h"
#include "desktopdb/DesktopDatabase.h"
#include "engine/Engines.h"
#include "engine/CommandText.h"
#include "engine/HostVolumeFiles.h"
#include "engine/TemporaryMountPoint.h"
#include "io/TemporaryFolder.h"
#include "sys/ShellRun.h"
#include "udif/UdifResourceEditor.h"
#include "pipeline/BuildContext.h"
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

// An engine that records every request and its text, and answers 0 except for texts that begin
// with a failing prefix. With a backing engine (the builtin one, say) each request that doesn't fail
// is then done by it, and the volume is read and written through it; without one, the volume's items
// are the host's files at their paths (the texts run in the shell when runInShell is set, as on
// macOS), and no alias can be made.
class CRecordingEngine : public CDiskImageEngine
{
public:
    explicit CRecordingEngine(std::unique_ptr<CDiskImageEngine> backing = nullptr) : backing(std::move(backing)) {}

    int Run(CEngineRequest const& request) override
    {
        std::string const text = FormatRequestText(request);
        commands.push_back(text);
        requests.push_back(request);
        if (onCommand)
            onCommand(text);
        for (std::string const& prefix : failingPrefixes)
        {
            if (text.compare(0, prefix.size(), prefix) == 0)
                return 1;
        }
        if (!failingText.empty() && text.find(failingText) != std::string::npos)
            return 1;
        if (backing)
            return backing->Run(request);
        return runInShell ? RunInShell(text) : 0;
    }
    bool MakeMountPoint(std::string* mountPoint, std::string* error) override
    {
        if (backing)
            return backing->MakeMountPoint(mountPoint, error);
        *mountPoint = DrawMountPointName(GetTemporaryFolder());
        return true;
    }
    // Without a backing engine the licence goes into the image after the convert, as on macOS.
    void SetLicence(std::vector<CUdifResource> resources) override
    {
        if (backing)
            backing->SetLicence(std::move(resources));
        else
            licence = std::move(resources);
    }
    bool AddLicence(std::string const& file, std::string* error) override
    {
        if (backing)
            return backing->AddLicence(file, error);
        return licence.empty() || AddResourcesToUdifImage(file, licence, error);
    }
    EVolumeEntry LookUp(std::string const& path) override
    {
        return backing ? backing->LookUp(path) : LookUpHostEntry(path);
    }
    bool ReadFile(std::string const& path, std::vector<uint8_t>* bytes, std::string* error) override
    {
        return backing ? backing->ReadFile(path, bytes, error) : ReadHostFile(path, bytes, error);
    }
    bool WriteFile(std::string const& path, std::vector<uint8_t> bytes, std::string* error) override
    {
        return backing ? backing->WriteFile(path, std::move(bytes), error) : WriteHostFile(path, bytes, error);
    }
    CFinderInfo ReadFinderInfo(std::string const& path) override
    {
        return backing ? backing->ReadFinderInfo(path) : CFinderInfo{};
    }
    bool MakeAlias(std::string const& fromFolder, std::string const& target, CAliasHandle* alias,
                   std::string* error) override
    {
        if (backing)
            return backing->MakeAlias(fromFolder, target, alias, error);
        *error = target + " is not on an attached volume";
        return false;
    }

    void FailWhen(std::string prefix) { failingPrefixes.push_back(std::move(prefix)); }
    CBuildContext Context(EFinderRecordSet recordSet = EFinderRecordSet::Legacy) { return {*this, recordSet}; }

    std::unique_ptr<CDiskImageEngine> backing;
    bool runInShell = false; // without a backing engine: run each text in the shell, on the host's files
    std::vector<std::string> commands;
    std::vector<CEngineRequest> requests;
    std::vector<std::string> failingPrefixes;
    std::string failingText; // fails any text that holds it
    std::function<void(std::string const&)> onCommand;
    std::vector<CUdifResource> licence;
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

// An empty volume created and attached by the builtin engine, held in its memory: files are put
// on it with Put, and the engine serves the code under test. Detached again at the end.
class CStandInVolume
{
public:
    CStandInVolume() : engine(MakeBuiltinDiskImageEngine())
    {
        std::string image = folder.path + "/volume.sparseimage";
        mountPoint = folder.path + "/volume";
        testing::internal::CaptureStdout();
        attached = engine->Run(CCreateRequest{"Test", 4, image}) == 0 &&
                   engine->Run(CAttachRequest{image, mountPoint}) == 0;
        testing::internal::GetCapturedStdout();
    }
    ~CStandInVolume()
    {
        if (!attached)
            return;
        testing::internal::CaptureStdout();
        engine->Run(CDetachRequest{mountPoint, true});
        testing::internal::GetCapturedStdout();
    }
    CStandInVolume(CStandInVolume const&) = delete;
    CStandInVolume& operator=(CStandInVolume const&) = delete;

    // Makes the file at `relative` under the mount point (its folders must exist).
    void Put(std::string const& relative, std::string const& contents)
    {
        std::string error;
        ASSERT_TRUE(engine->WriteFile(mountPoint + "/" + relative,
                                      std::vector<uint8_t>(contents.begin(), contents.end()), &error))
            << error;
    }
    CBuildContext Context(EFinderRecordSet recordSet = EFinderRecordSet::Legacy) { return {*engine, recordSet}; }

    CTempFolder folder;
    std::unique_ptr<CDiskImageEngine> engine;
    std::string mountPoint;
    bool attached = false;
};

// The desktop database at `path`, read through the engine.
inline std::unique_ptr<CDesktopDatabase> ReadStoreThrough(CDiskImageEngine& engine, std::string const& path)
{
    std::vector<uint8_t> bytes;
    std::string error;
    auto database = std::make_unique<CDesktopDatabase>();
    if (!engine.ReadFile(path, &bytes, &error))
    {
        ADD_FAILURE() << error;
        return database;
    }
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    database->ReadFromStream(in);
    return database;
}

// The PNG file of an opaque RGB picture, every sample 0x80.
inline std::string PngBytes(unsigned int width, unsigned int height)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.format = PNG_FORMAT_RGB;
    image.width = width;
    image.height = height;
    std::vector<unsigned char> pixels(size_t(width) * height * 3, 0x80);
    png_alloc_size_t size = 0;
    EXPECT_TRUE(png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr)) << image.message;
    std::string bytes(size, '\0');
    EXPECT_TRUE(png_image_write_to_memory(&image, bytes.data(), &size, 0, pixels.data(), 0, nullptr));
    return bytes;
}

// The same picture as a file.
inline void WritePng(std::string const& path, unsigned int width, unsigned int height)
{
    std::ofstream(path, std::ios::binary) << PngBytes(width, height);
}
