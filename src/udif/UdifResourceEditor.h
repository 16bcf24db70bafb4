// Adding resources (such as a licence agreement) to the property list of a finished UDIF image,
// whichever program wrote it.
#pragma once

#include "udif/UdifPlist.h"

#include <string>
#include <vector>

// Rewrites the XML property list at the end of the image at `path` with `resources` added to its
// resource fork, and the 'koly' trailer after it. The data fork and every checksum stay as they are.
// Refuses, leaving the file unchanged, an image whose property list is not the last thing before the
// trailer or that has a separate resource fork. The edited image is written beside the original and
// renamed over it, so a failed write leaves the original as it was. False with a reason in `error`.
[[nodiscard]] bool AddResourcesToUdifImage(std::string const& path,
                                           std::vector<CUdifResource> const& resources, std::string* error);
