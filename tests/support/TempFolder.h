// A scratch folder for one test under the system's temporary folder ($TMPDIR, else /tmp), removed
// with everything in it when the test ends.
#pragma once

#include "support/FileBytes.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

class CTempFolder
{
public:
    CTempFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "kilnpack-test.XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("can't make a temporary folder from " + pattern);
        path = pattern;
    }
    ~CTempFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    CTempFolder(CTempFolder const&) = delete;
    CTempFolder& operator=(CTempFolder const&) = delete;

    // The full path of a name under the folder.
    std::string Join(std::string const& relative) const { return path + "/" + relative; }

    // Writes the file under the folder (making the folders on its way) and gives its full path.
    std::string WriteFile(std::string const& relative, std::string const& contents) const
    {
        std::string const full = Join(relative);
        WriteWholeFile(full, contents);
        return full;
    }

    std::string path;
};
