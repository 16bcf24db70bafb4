// Printing an existing desktop database file for "--dump".
#include "app/DumpDatabase.h"

#include "desktopdb/DesktopDatabase.h"
#include "inspect/DumpImage.h"

#include <cstdio>
#include <exception>
#include <sys/stat.h>

bool DumpDatabaseFile(char const* path)
{
    // Looked at without opening it: opening a FIFO would wait for a writer. A path that names
    // nothing is left to the reader, which reports it as a file that ends at once.
    struct stat status;
    if (stat(path, &status) == 0 && !S_ISREG(status.st_mode))
    {
        fflush(stdout);
        fprintf(stderr, "Error: Unable to access file '%s'.\n", path);
        return false;
    }
    // A file is told by its content: one that ends in a UDIF trailer is a disk image.
    if (IsDiskImageFile(path))
        return DumpImageFile(path);
    try
    {
        CDesktopDatabase database;
        database.ReadFromDisk(path);
        database.Print(stdout);
        return true;
    }
    catch (char const* text)
    {
        fflush(stdout);
        fprintf(stderr, "Internal Error: '%s'\n", text);
    }
    catch (std::exception const& error)
    {
        fflush(stdout);
        fprintf(stderr, "Internal Error: '%s'\n", error.what());
    }
    return false;
}
