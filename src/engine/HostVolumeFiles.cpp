#include "engine/HostVolumeFiles.h"

#include "io/RegularInputFile.h"
#include "io/TempOutputFile.h"

#include <sys/stat.h>

EVolumeEntry LookUpHostEntry(std::string const& path)
{
    struct stat info;
    if (lstat(path.c_str(), &info) != 0)
        return EVolumeEntry::None;
    if (S_ISDIR(info.st_mode))
        return EVolumeEntry::Folder;
    if (S_ISREG(info.st_mode))
        return EVolumeEntry::File;
    return S_ISLNK(info.st_mode) ? EVolumeEntry::Link : EVolumeEntry::Other;
}

bool ReadHostFile(std::string const& path, std::vector<uint8_t>* bytes, std::string* error)
{
    std::string reason;
    if (ReadRegularInputFile(path, kMaxPictureFileBytes, bytes, &reason, ELastLink::Refuse) == EInputFile::Opened)
        return true;
    *error = path + ": " + reason;
    return false;
}

bool WriteHostFile(std::string const& path, std::vector<uint8_t> const& bytes, std::string* error)
{
    EVolumeEntry const existing = LookUpHostEntry(path);
    if (existing == EVolumeEntry::Folder || existing == EVolumeEntry::Other)
    {
        *error = path + ": another item of this name is in the way";
        return false;
    }
    CTempOutputFile file;
    return file.Open(path, error) && file.Write(bytes.data(), bytes.size(), error) && file.Commit(error);
}
