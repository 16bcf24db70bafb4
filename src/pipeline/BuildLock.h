// One build per output file at a time: a lock file beside the output names the process that builds
// it and the staging folder it uses, so that a second build fails at once and the build after a
// killed one removes what that one left behind.
#pragma once

#include "io/FileDescriptor.h"

#include <string>

class CBuildLock
{
public:
    CBuildLock() = default;
    ~CBuildLock(); // releases the lock and removes the lock file
    CBuildLock(CBuildLock const&) = delete;
    CBuildLock& operator=(CBuildLock const&) = delete;

    // Takes the lock "<file>.lock". False, after an "Error:" line naming the other process, when a
    // live process holds it. True without a lock where no file can be made beside the output. Once taken, what a killed build of the same file left (its staging
    // folder and temporary output) is removed, with a warning for each.
    bool Acquire(std::string const& file);

    // Notes the staging folder in the lock file, for the clean-up after a kill.
    void RecordStagingFolder(std::string const& path);

private:
    void RemoveLeftovers(std::string const& file, std::string const& previousContent);
    void WriteContent();

    std::string m_lockPath;
    std::string m_content;
    CFileDescriptor m_fd;
};
