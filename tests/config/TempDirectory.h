// A scratch directory for one test, removed with everything in it when the test ends.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

class CTempDirectory
{
public:
    CTempDirectory()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "kilnpack-test.XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        path = pattern;
    }
    ~CTempDirectory()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    CTempDirectory(CTempDirectory const&) = delete;
    CTempDirectory& operator=(CTempDirectory const&) = delete;

    // Writes the file under the directory and gives its full path.
    std::string WriteFile(std::string const& name, std::string const& contents) const
    {
        std::string full = (path / name).string();
        std::ofstream out(full, std::ios::binary);
        out << contents;
        return full;
    }

    std::filesystem::path path;
};
