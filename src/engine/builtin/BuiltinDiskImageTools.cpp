#include "engine/builtin/BuiltinDiskImageTools.h"

#include "engine/builtin/StandInAlias.h"
#include "engine/builtin/StandInVerbs.h"
#include "engine/TemporaryMountPoint.h"

#include <cstdio>
#include <exception>

int ReportHdiutilFailure(std::string const& verb, std::string const& reason)
{
    std::fprintf(stderr, "hdiutil: %s failed - %s\n", verb.c_str(), reason.c_str());
    return 1;
}

int CBuiltinDiskImageTools::Run(CToolCommand const& command)
{
    // A stand-in that gives up with a thrown text fails like a tool that exits non-zero, so the
    // pipeline still detaches and cleans up.
    int status = 1;
    try
    {
        status = RunStandIn(command.operation, ListCommandArguments(command.words));
    }
    catch (char const* message)
    {
        std::fprintf(stderr, "Internal Error: '%s'\n", message);
    }
    catch (std::exception const& error)
    {
        std::fprintf(stderr, "Internal Error: '%s'\n", error.what());
    }
    std::fflush(stdout);
    std::fflush(stderr);
    return status;
}

int CBuiltinDiskImageTools::RunStandIn(EToolOperation operation, std::vector<std::string> const& argv)
{
    switch (operation)
    {
    case EToolOperation::CreateSparseImage:
        return RunHdiutilCreate(argv);
    case EToolOperation::AttachImage:
        return RunHdiutilAttach(&volumes, argv);
    case EToolOperation::DetachImage:
        return RunHdiutilDetach(&volumes, argv);
    case EToolOperation::ResizeImage:
        return RunHdiutilResize(&volumes, argv);
    case EToolOperation::ConvertImage:
        return RunHdiutilConvert(&volumes, argv);
    case EToolOperation::BlessOpenFolder:
        return RunBless(&volumes, argv);
    case EToolOperation::SetFinderInfo:
        return RunXattr(&volumes, argv);
    case EToolOperation::JoinRetinaPictures:
        return RunTiffutil(argv);
    }
    return 1;
}

bool CBuiltinDiskImageTools::MakeMountPoint(std::string* mountPoint, std::string* error)
{
    return MakeTemporaryMountPoint(mountPoint, error);
}

void CBuiltinDiskImageTools::RemoveMountPoint(std::string const& mountPoint)
{
    RemoveTemporaryMountPoint(mountPoint);
}

CFinderInfo CBuiltinDiskImageTools::ReadFinderInfo(std::string const&)
{
    // Items made on this system carry no Finder info until one is set.
    return CFinderInfo{};
}

bool CBuiltinDiskImageTools::FSNewAlias(CFileRef const* fromFile, CFileRef const& target, CAliasHandle* alias,
                                        std::string* error)
{
    return MakeStandInAlias(&volumes, fromFile, target, alias, error);
}
