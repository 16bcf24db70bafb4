// Printing an existing desktop database file for "--dump".
#include "main/DumpDatabase.h"

#include "desktopdb/DesktopDatabase.h"
#include "main/DumpImage.h"

#include <cstdio>

void DumpDatabaseFile(char const* path)
{
    // A file is told by its content: one that ends in a UDIF trailer is a disk image.
    if (IsDiskImageFile(path))
    {
        DumpImageFile(path);
        return;
    }
    try
    {
        CDesktopDatabase database;
        database.ReadFromDisk(path);
        database.Print();
    }
    catch (char const* text)
    {
        fflush(stdout);
        fprintf(stderr, "Internal Error: '%s'\n", text);
    }
}
