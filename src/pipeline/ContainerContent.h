// Fills one folder of the volume from a container element: sub-folders, copied files, symbolic
// links, view settings and icon positions, then the folder's desktop database.
#pragma once

#include "config/XmlTree.h"
#include "desktopdb/DesktopDatabase.h"
#include "pipeline/BuildContext.h"

// Walks every child of the container. Window settings go under viewName into viewDatabase; when
// either is null they go under "." into the walk's own database (the volume root). Desktop
// database failures are thrown as message texts.
bool ProcessContainer(CBuildContext& context, CXmlTree* containerTree, char const* containerPath,
                      char const* viewName, CDesktopDatabase* viewDatabase);

// Creates the folder and walks its children; its window settings go into parentDatabase.
bool ProcessFolder(CBuildContext& context, CXmlTree* folderTree, char const* containerPath,
                   CDesktopDatabase* parentDatabase);
bool ProcessFile(CBuildContext& context, CXmlTree* fileTree, char const* containerPath);
bool ProcessLink(CBuildContext& context, CXmlTree* linkTree, char const* containerPath);
