// The disk-image engine the pipeline works with: macOS's own tools on a mounted volume (hdiutil,
// bless, xattr, tiffutil through the shell), or the builtin engine, which builds the volume in memory
// and streams it into the image. The pipeline hands it typed requests (EngineRequests.h) and reads
// and writes the volume's items through it, by their paths under the mount point.
#pragma once

#include "engine/AliasManager.h"
#include "engine/EngineRequests.h"
#include "udif/UdifPlist.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// What a path of the volume names, its last component never followed if it is a link.
enum class EVolumeEntry
{
    None,
    Folder,
    File,
    Link,
    Other,
};

class CDiskImageEngine
{
public:
    virtual ~CDiskImageEngine() = default;

    // Does what the request says (the caller has echoed its text): the exit status a tool gives, 0
    // for success. Complaints go to the standard error as the tool writes them.
    virtual int Run(CEngineRequest const& request) = 0;

    // A name for the mount point, free now; false with a reason.
    virtual bool MakeMountPoint(std::string* mountPoint, std::string* error) = 0;

    // The licence resources go into the image the next convert writes (before its one rename where
    // the engine can, else added right after it by AddLicence).
    virtual void SetLicence(std::vector<CUdifResource> resources) = 0;
    // Adds the licence to the image a convert just wrote, when the convert couldn't; false with a reason.
    virtual bool AddLicence(std::string const& file, std::string* error) = 0;

    // The item at `path` on the attached volume.
    virtual EVolumeEntry LookUp(std::string const& path) = 0;
    // The bytes of the file at `path` (a link is not followed); false with a reason.
    virtual bool ReadFile(std::string const& path, std::vector<uint8_t>* bytes, std::string* error) = 0;
    // Makes the file at `path` with `bytes`, replacing a file or a link of that name (the link itself,
    // never what it leads to); a folder or any other item stays and the write fails. False with a reason.
    virtual bool WriteFile(std::string const& path, std::vector<uint8_t> bytes, std::string* error) = 0;
    // The Finder info the item (a link itself) holds now; zeros when it has none.
    virtual CFinderInfo ReadFinderInfo(std::string const& path) = 0;
    // The alias record of the item at `target`, relative to the folder `fromFolder`, both on the
    // attached volume; false with a reason.
    virtual bool MakeAlias(std::string const& fromFolder, std::string const& target, CAliasHandle* alias,
                           std::string* error) = 0;
};

// Echoes "Running Command: <text>" on the standard output and has the engine run the request;
// true when it gave 0.
bool PerformRequest(CDiskImageEngine& engine, CEngineRequest const& request);
