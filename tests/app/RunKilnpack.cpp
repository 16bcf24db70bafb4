#include "RunKilnpack.h"

#include "support/TempFolder.h"
#include "support/FileBytes.h"

#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

char const* const kBanner =
    "Quorvel Incorporated KilnPack.\nSee: https://kilnpack.example for more information.\n";
char const* const kUsage = "Usage: kilnpack config-file\n"
                           "Exit status: 0 when everything was built and printed, 1 when anything failed, "
                           "128 + N when stopped by signal N.\n";


CRunResult RunKilnpack(std::vector<std::string> const& arguments,
                       std::filesystem::path const& workingDirectory)
{
    CTempFolder captures;
    std::string outputPath = captures.Join("stdout");
    std::string errorsPath = captures.Join("stderr");
    std::vector<char*> argv;
    std::string program = KILNPACK_BINARY;
    argv.push_back(program.data());
    std::vector<std::string> copies = arguments;
    for (std::string& argument : copies)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    pid_t child = fork();
    if (child == 0)
    {
        int output = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int errors = open(errorsPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (output < 0 || errors < 0 || chdir(workingDirectory.c_str()) != 0 || dup2(output, 1) < 0 ||
            dup2(errors, 2) < 0)
            _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    CRunResult result{"", "", -1};
    int status = 0;
    if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    result.output = ReadWholeFile(outputPath);
    result.errors = ReadWholeFile(errorsPath);
    return result;
}
