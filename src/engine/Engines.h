// The engines this build of the program has, for main to choose from.
#pragma once

#include "engine/DiskImageEngine.h"

#include <memory>

// The in-process engine.
std::unique_ptr<CDiskImageEngine> MakeBuiltinDiskImageEngine();

// Provided by the file of the system the program is built for: the engine of the system's own
// tools, or null where there are none.
std::unique_ptr<CDiskImageEngine> MakeSystemDiskImageEngine();
