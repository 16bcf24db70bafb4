// kilnpack: builds disk images from configuration files and prints desktop database files.
#include "app/ConfigDocument.h"
#include "app/DumpDatabase.h"
#include "app/SignCommands.h"
#include "engine/Engines.h"
#include "io/SourceDateEpoch.h"
#include "sys/Interruption.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <memory>

namespace
{
constexpr int kVersionMajor = 0;
constexpr int kVersionMinor = 1;

void PrintBanner()
{
    printf("Quorvel Incorporated KilnPack.\n");
    printf("See: https://kilnpack.example for more information.\n");
}

// KILNPACK_ENGINE chooses the engine once, before anything is built; a value this build doesn't
// have stops the run, since a build with other tools than asked for would pass unnoticed.
// Unset or empty picks the system's own tools where it has them, else the builtin engine.
std::unique_ptr<CDiskImageEngine> ChooseEngineFromEnvironment()
{
    constexpr char const kBuiltinEngine[] = "builtin";
    constexpr char const kSystemEngine[] = "hdiutil";
    char const* name = std::getenv("KILNPACK_ENGINE");
    std::unique_ptr<CDiskImageEngine> system = MakeSystemDiskImageEngine();
    bool const hasSystem = system != nullptr;
    bool const unset = name == nullptr || *name == '\0';
    if ((unset && hasSystem) || (!unset && std::strcmp(name, kSystemEngine) == 0 && hasSystem))
        return system;
    if (unset || std::strcmp(name, kBuiltinEngine) == 0)
        return MakeBuiltinDiskImageEngine();
    std::string const accepted = hasSystem ? std::string("'") + kSystemEngine + "' or '" + kBuiltinEngine + "'"
                                           : std::string("'") + kBuiltinEngine + "'";
    fprintf(stderr, "Error: KILNPACK_ENGINE value '%s' is not accepted here; use %s or leave it unset.\n", name,
            accepted.c_str());
    return nullptr;
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
    std::unique_ptr<CDiskImageEngine> const engine = ChooseEngineFromEnvironment();
    if (!engine)
        return 1;
    // A malformed SOURCE_DATE_EPOCH stops the run: building with the clock instead would give
    // images that only look reproducible.
    if (std::string error; !CheckSourceDateEpoch(&error))
    {
        fprintf(stderr, "Error: %s.\n", error.c_str());
        return 1;
    }
    bool helpRequested = false;
    bool dumpMode = false;
    bool allDone = true;
    std::string timestampUrl; // for every later "--sign"
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
        else if (IsSigningOption(argument))
            allDone = PerformSigningOption(argc, argv, &index, &timestampUrl) && allDone;
        else if (dumpMode)
            allDone = DumpDatabaseFile(argument) && allDone;
        else
            allDone = PerformConfigFile(argument, *engine) && allDone;
        fflush(stdout);
    }
    if (int const signalNumber = GetPendingInterrupt())
        return 128 + signalNumber;
    if (argc < 2 || helpRequested)
    {
        printf("Usage: kilnpack config-file\n");
        printf("Signing: kilnpack [--timestamp-url URL] --sign IMAGE IDENTITY (a .p12 file whose password is in "
               "%s, or - for ad-hoc); kilnpack --staple IMAGE TICKET\n",
               kSignPasswordVariable);
        printf("Exit status: 0 when everything was built and printed, 1 when anything failed, "
               "128 + N when stopped by signal N.\n");
    }
    return allDone ? 0 : 1;
}
