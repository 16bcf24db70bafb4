// The items of a volume that is mounted on the host, reached by their paths: what the engine that
// runs the system's own tools reads and writes, and what tests of the pipeline use.
#pragma once

#include "engine/DiskImageEngine.h"

#include <cstdint>
#include <string>
#include <vector>

// What the path names, a link as a link.
EVolumeEntry LookUpHostEntry(std::string const& path);

// The regular file at `path` whole (a link as its last component is not followed; at most the 64 MB
// of a picture, which is all the pipeline reads back). False with a reason naming the path.
bool ReadHostFile(std::string const& path, std::vector<uint8_t>* bytes, std::string* error);

// Writes the file in one piece (a temporary file renamed over it), replacing a regular file or a link
// of that name (the link itself); a folder or anything else there stays and the write fails. False
// with a reason.
bool WriteHostFile(std::string const& path, std::vector<uint8_t> const& bytes, std::string* error);
