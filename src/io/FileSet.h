// Files named by path and matched by what they are: by device and inode where they exist (so a
// link or another spelling of the path still matches), by their absolute path where they don't
// exist yet. A build keeps two: what its configuration reads, and what it writes.
#pragma once

#include <set>
#include <string>
#include <sys/types.h>
#include <utility>

class CFileSet
{
public:
    void Add(std::string const& path);
    bool Contains(std::string const& path) const;

private:
    std::set<std::pair<dev_t, ino_t>> m_identities;
    std::set<std::string> m_paths; // MakeAbsolutePath's form
};

// What one configuration file's build reads and writes, kept for the length of its walk, so that
// no image overwrites the configuration, a source, or another image's output.
struct CRunFiles
{
    CFileSet configuration; // the configuration file itself
    CFileSet sources;       // every file the configuration copies or reads (sources, icons, licences)
    CFileSet outputs;       // every image and preview an image of the run has claimed
};
