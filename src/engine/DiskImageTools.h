// The disk-image tools the image builder works with: macOS's own (hdiutil, bless, xattr, tiffutil
// through the shell) or the in-process stand-ins. Which set serves is chosen once at start; each
// build gets a fresh instance of it.
#pragma once

#include "engine/AliasManager.h"
#include "engine/ToolCommands.h"

#include <memory>
#include <string>
#include <vector>

class CDiskImageTools
{
public:
    virtual ~CDiskImageTools() = default;

    // Runs the operation for real (the caller has echoed it); the exit status a tool gives, 0 is
    // success. Complaints go to the standard error as the tool writes them.
    virtual int Run(CToolCommand const& command) = 0;

    // A fresh place to attach the volume while it is filled; false with a reason.
    virtual bool MakeMountPoint(std::string* mountPoint, std::string* error) = 0;
    // Removes the mount point folder if it is still there and empty; the detach normally does.
    virtual void RemoveMountPoint(std::string const& mountPoint) = 0;
    // Whether the mount point is a folder of ours that the build lock must record, so that a later
    // build can remove it after a crash (a real mount point under /Volumes is the system's).
    virtual bool IsMountPointStagingFolder() const = 0;

    // The Finder info the item (a symbolic link itself) holds now; zeros when it has none.
    virtual CFinderInfo ReadFinderInfo(std::string const& path) = 0;

    // The alias record of `target`, an item on an attached volume, relative to `fromFile` (which
    // may be null) on the same volume; false with a reason.
    virtual bool FSNewAlias(CFileRef const* fromFile, CFileRef const& target, CAliasHandle* alias,
                            std::string* error) = 0;
};

// The engines this build of the program has: "builtin", and "hdiutil" where the system has the tools.
std::vector<std::string> ListDiskImageEngines();

// Chooses the engine by name; empty (or null) picks the system's default: its own tools where it
// has them, else the builtin ones. False for a name not in ListDiskImageEngines().
bool SelectDiskImageEngine(char const* name);

// A fresh instance of the chosen engine.
std::unique_ptr<CDiskImageTools> MakeDiskImageTools();

// The tools of the build that runs now (see CDiskImageToolsScope); outside a build, one instance
// of the chosen engine kept for the whole run.
CDiskImageTools& GetDiskImageTools();

// Makes a fresh instance of the chosen engine the current tools while it lives, so that what one
// build attached is never seen by the next.
class CDiskImageToolsScope
{
public:
    CDiskImageToolsScope();
    ~CDiskImageToolsScope();
    CDiskImageToolsScope(CDiskImageToolsScope const&) = delete;
    CDiskImageToolsScope& operator=(CDiskImageToolsScope const&) = delete;

    CDiskImageTools& Tools() { return *tools; }

private:
    std::unique_ptr<CDiskImageTools> tools;
    CDiskImageTools* previous;
};

// Provided by the file of the system the program is built for: the system's own tools, or null
// where there are none.
std::unique_ptr<CDiskImageTools> MakeSystemDiskImageTools();
