// Printing an existing desktop database file for "--dump".
#include "main/DumpDatabase.h"

#include "desktopdb/DesktopDatabase.h"

#include <cstdio>

void DumpDatabaseFile(char const* path)
{
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
