// Signing and stapling images named on the command line.
#include "app/SignCommands.h"

#include "signing/ImageSigner.h"

#include <cstdio>
#include <strings.h>

bool SignImageFromCommandLine(std::string const& image, std::string const& identity, std::string const& timestampUrl)
{
    CSigningSettings settings;
    settings.identity = identity;
    settings.passwordVariable = kSignPasswordVariable;
    settings.timestampUrl = identity == "-" ? std::string() : timestampUrl;
    if (identity == "-" && !timestampUrl.empty())
        std::fprintf(stderr, "Warning: '--timestamp-url' is not used for '%s': an ad-hoc signature has no signer to "
                             "time-stamp.\n",
                     image.c_str());
    std::string error;
    if (!SignUdifImage(image, settings, &error))
    {
        std::fflush(stdout);
        std::fprintf(stderr, "Error: Unable to sign the disk image '%s': %s.\n", image.c_str(), error.c_str());
        return false;
    }
    std::printf("Signed '%s' with %s.\n", image.c_str(),
                identity == "-" ? "an ad-hoc signature" : ("'" + identity + "'").c_str());
    return true;
}

bool StapleImageFromCommandLine(std::string const& image, std::string const& ticket)
{
    std::string error;
    if (!StapleUdifImage(image, ticket, &error))
    {
        std::fflush(stdout);
        std::fprintf(stderr, "Error: Unable to staple '%s' to the disk image '%s': %s.\n", ticket.c_str(),
                     image.c_str(), error.c_str());
        return false;
    }
    std::printf("Stapled '%s' to '%s'.\n", ticket.c_str(), image.c_str());
    return true;
}

bool IsSigningOption(char const* argument)
{
    return strcasecmp(argument, "--sign") == 0 || strcasecmp(argument, "--staple") == 0 ||
           strcasecmp(argument, "--timestamp-url") == 0;
}

bool PerformSigningOption(int argc, char** argv, int* index, std::string* timestampUrl)
{
    char const* option = argv[*index];
    bool const sign = strcasecmp(option, "--sign") == 0;
    bool const timestamp = strcasecmp(option, "--timestamp-url") == 0;
    // The values are the next arguments, whatever they look like.
    int const needed = timestamp ? 1 : 2;
    if (argc - *index - 1 < needed)
    {
        std::fflush(stdout);
        std::fprintf(stderr, "Error: '%s' needs %s.\n", option,
                     timestamp ? "a URL" : sign ? "an image and an identity" : "an image and a ticket");
        *index = argc;
        return false;
    }
    char** values = argv + *index + 1;
    *index += needed;
    if (timestamp)
    {
        *timestampUrl = values[0];
        return true;
    }
    return sign ? SignImageFromCommandLine(values[0], values[1], *timestampUrl)
                : StapleImageFromCommandLine(values[0], values[1]);
}
