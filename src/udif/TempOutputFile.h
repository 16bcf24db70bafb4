// An output file written under a temporary name beside its final path and renamed into place, so that
// a failed or interrupted write never leaves a partial file under the final name.
#pragma once

#include <cstddef>
#include <string>

class CTempOutputFile
{
public:
    CTempOutputFile() = default;
    ~CTempOutputFile(); // removes the temporary file unless committed
    CTempOutputFile(CTempOutputFile const&) = delete;
    CTempOutputFile& operator=(CTempOutputFile const&) = delete;

    bool Open(std::string const& finalPath, std::string* error);
    bool Write(void const* data, size_t size, std::string* error);
    // Flushes the file to disk and renames it to the final path.
    bool Commit(std::string* error);

    std::string const& GetTempPath() const { return m_tempPath; }

private:
    void Discard();

    std::string m_finalPath;
    std::string m_tempPath;
    int m_fd = -1;
};
