// kilnpack: builds disk images from configuration files and prints desktop database files.
#include "config/ConfigDocument.h"
#include "main/DumpDatabase.h"

#include <cstdio>
#include <strings.h>

namespace
{
constexpr int kVersionMajor = 0;
constexpr int kVersionMinor = 1;

void PrintBanner()
{
    printf("Quorvel Incorporated KilnPack.\n");
    printf("See: https://kilnpack.example for more information.\n");
}
} // namespace

int main(int argc, char** argv)
{
    PrintBanner();
    bool helpRequested = false;
    bool dumpMode = false;
    // Options are recognised in every position, also after "--dump", and never become paths.
    for (int index = 1; index < argc; ++index)
    {
        char const* argument = argv[index];
        if (strcasecmp(argument, "--help") == 0)
            helpRequested = true;
        else if (strcasecmp(argument, "--dump") == 0)
            dumpMode = true;
        else if (strcasecmp(argument, "--version") == 0)
            printf("Version: %d.%d\n", kVersionMajor, kVersionMinor);
        else if (dumpMode)
            DumpDatabaseFile(argument);
        else
            PerformConfigFile(argument);
        fflush(stdout);
    }
    if (argc < 2 || helpRequested)
        printf("Usage: kilnpack config-file\n");
    return 0;
}
