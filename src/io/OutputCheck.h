// The checks an output passes before a build removes or writes anything: a build replaces only
// what an earlier build of the same output made, never a source, the configuration, a special
// file or another image's output.
#pragma once

#include "io/FileSet.h"

#include <string>

enum class EOutputFormat
{
    DiskImage,  // replaces only a file that ends in a UDIF trailer ('koly')
    PngPicture, // replaces only a file that begins with the PNG signature
};

// True when `path` may be written as the run's next output of `format` (and claims it in
// run->outputs); false with the sentence to print after "Error: ". `label` names the output in
// it ("output", "preview").
bool ClaimOutputFile(std::string const& path, EOutputFormat format, char const* label, CRunFiles* run,
                     std::string* reason);
