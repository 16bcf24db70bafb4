// Finding the temporary folder as an absolute path.
#include "io/TemporaryFolder.h"

#include "io/AbsolutePath.h"

#include <cstdlib>

std::string GetTemporaryFolder()
{
    char const* fromEnvironment = std::getenv("TMPDIR");
    std::string const folder =
        MakeAbsolutePath(fromEnvironment && *fromEnvironment ? fromEnvironment : "/tmp");
    // Without a working folder a relative name can't be made absolute: /tmp instead.
    return folder[0] == '/' ? folder : "/tmp";
}
