// kilnpack: builds disk images from configuration files and prints desktop database files.
#include "app/ConfigDocument.h"
#include "app/DumpDatabase.h"
#include "engine/DiskImageTools.h"
#include "sys/Interruption.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <strings.h>
#include <vector>

namespace
{
constexpr int kVersionMajor = 0;
constexpr int kVersionMinor = 1;

void PrintBanner()
{
    printf("Quorvel Incorporated KilnPack.\n");
    printf("See: https://kilnpack.example for more information.\n");
}

// KILNPACK_ENGINE chooses the disk-image tools once, before anything is built; a value this build
// doesn't have stops the run, since a build with other tools than asked for would pass unnoticed.
bool SelectEngineFromEnvironment()
{
    char const* engine = std::getenv("KILNPACK_ENGINE");
    if (SelectDiskImageEngine(engine))
        return true;
    std::vector<std::string> const engines = ListDiskImageEngines();
    std::string accepted;
    for (size_t i = 0; i < engines.size(); ++i)
        accepted += (i == 0 ? "'" : i + 1 == engines.size() ? " or '" : ", '") + engines[i] + "'";
    fprintf(stderr, "Error: KILNPACK_ENGINE value '%s' is not accepted here; use %s or leave it unset.\n",
            engine, accepted.c_str());
    return false;
}
} // namespace

// Exit status: 0 when every configuration file built every image it describes and every desktop
// database was printed, 1 when anything failed, 128 + the signal's number after SIGINT, SIGTERM or
// SIGHUP (once what the build had made is cleaned up). An unknown KILNPACK_ENGINE gives 1 before any
// argument is handled.
int main(int argc, char** argv)
{
    InstallInterruptHandlers();
    PrintBanner();
    fflush(stdout);
    if (!SelectEngineFromEnvironment())
        return 1;
    bool helpRequested = false;
    bool dumpMode = false;
    bool allDone = true;
    // Options are recognised in every position, also after "--dump", and never become paths.
    for (int index = 1; index < argc && GetPendingInterrupt() == 0; ++index)
    {
        char const* argument = argv[index];
        if (strcasecmp(argument, "--help") == 0)
            helpRequested = true;
        else if (strcasecmp(argument, "--dump") == 0)
            dumpMode = true;
        else if (strcasecmp(argument, "--version") == 0)
            printf("Version: %d.%d\n", kVersionMajor, kVersionMinor);
        else if (dumpMode)
            allDone = DumpDatabaseFile(argument) && allDone;
        else
            allDone = PerformConfigFile(argument) && allDone;
        fflush(stdout);
    }
    if (int const signalNumber = GetPendingInterrupt())
        return 128 + signalNumber;
    if (argc < 2 || helpRequested)
    {
        printf("Usage: kilnpack config-file\n");
        printf("Exit status: 0 when everything was built and printed, 1 when anything failed, "
               "128 + N when stopped by signal N.\n");
    }
    return allDone ? 0 : 1;
}
