// Whole files read and written by tests.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

// A whole file's bytes; empty if it can't be read.
inline std::string ReadWholeFile(std::string const& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Writes the bytes as the whole file, making the folders on its way.
inline void WriteWholeFile(std::string const& path, std::string const& bytes)
{
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    std::ofstream(path, std::ios::binary) << bytes;
}
