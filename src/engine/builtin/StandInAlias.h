// Alias records of items on a volume the stand-in hdiutil has attached, naming the catalog node IDs
// the volume will give them when it is written.
#pragma once

#include "engine/AliasManager.h"
#include "engine/builtin/AttachedVolumes.h"

#include <string>

// The record of `target`; `fromFile`, when given, must be on the same volume. False with a reason.
bool MakeStandInAlias(CAttachedVolumes* volumes, CFileRef const* fromFile, CFileRef const& target,
                      CAliasHandle* alias, std::string* error);
