// Fills one folder of the volume from a container element: sub-folders, copied files, symbolic
// links, view settings and icon positions, then the folder's desktop database.
#pragma once

#include "config/XmlTree.h"
#include "desktopdb/DesktopDatabase.h"
#include "config/FinderRecordSet.h"

// Walks every child of the container. Window settings go under viewName into viewDatabase; when
// either is null they go under "." into the walk's own database (the volume root). Desktop
// database write failures are thrown as message texts. recordSet reaches every view of every
// folder below.
bool ProcessContainer(CXmlTree* containerTree, char const* containerPath, char const* viewName,
                      CDesktopDatabase* viewDatabase, EFinderRecordSet recordSet = EFinderRecordSet::Legacy);

// Creates the folder and walks its children; its window settings go into parentDatabase.
bool ProcessFolder(CXmlTree* folderTree, char const* containerPath, CDesktopDatabase* parentDatabase,
                   EFinderRecordSet recordSet = EFinderRecordSet::Legacy);

bool ProcessFile(CXmlTree* fileTree, char const* containerPath);
bool ProcessLink(CXmlTree* linkTree, char const* containerPath);
