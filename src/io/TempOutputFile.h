// A final file written under a temporary name beside its path ("<path>.tmp-" and eight letters or
// digits), flushed to disk and renamed into place only when complete: a failed or interrupted write
// never leaves a partial file under the final name, and the temporary goes with the object. Only a
// regular file is ever replaced: a device, FIFO or socket standing at the final path (or a link to
// one) is refused, by the early check and again right before the rename.
#pragma once

#include "io/FileDescriptor.h"

#include <cstddef>
#include <string>

class CTempOutputFile
{
public:
    // What Commit does when something already has the final name.
    enum class ECommit
    {
        Replace,      // the finished file takes the name
        KeepExisting, // the commit fails with EEXIST and both files stay as they were
    };

    // `what` names the finished file in the message of a failed rename ("image", "file").
    explicit CTempOutputFile(char const* what = "file") : m_what(what) {}
    ~CTempOutputFile(); // removes the temporary file unless committed
    CTempOutputFile(CTempOutputFile const&) = delete;
    CTempOutputFile& operator=(CTempOutputFile const&) = delete;

    // Each step returns false with a message naming the file; GetErrorNumber() then gives the errno
    // value, for callers that word the failure themselves.
    bool Open(std::string const& finalPath, std::string* error);
    bool Write(void const* data, size_t size, std::string* error);
    // Flushes the file to disk and renames it to the final path.
    bool Commit(std::string* error, ECommit mode = ECommit::Replace);

    // Whether a finished file may take `path`: true when nothing is there or a regular file (or a
    // link to one); false with what stands there ("a device", "a link to a FIFO", "a folder").
    static bool IsReplaceable(std::string const& path, std::string* what);

    // For writers that place their bytes themselves (positioned writes) or reopen the file by name.
    int GetDescriptor() const { return m_fd.Get(); }
    std::string const& GetTempPath() const { return m_tempPath; }
    int GetErrorNumber() const { return m_errorNumber; }

private:
    void Discard();
    bool Fail(char const* what, std::string const& path, int errorNumber, std::string* error);

    char const* m_what;
    std::string m_finalPath;
    std::string m_tempPath;
    CFileDescriptor m_fd;
    int m_errorNumber = 0;
};
