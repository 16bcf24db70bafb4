// Turns view elements and item positions into Finder desktop database records.
#pragma once

#include "config/XmlTree.h"
#include "desktopdb/DesktopDatabase.h"
#include "config/FinderRecordSet.h"

// Window, icon view, toolbar, text size and background records of one view element, stored under
// viewName in viewDatabase. The background picture is looked up inside containerPath. recordSet
// chooses the legacy records, the property list records of current Finders, or both.
bool ProcessView(CXmlTree* viewTree, char const* viewName, CDesktopDatabase* viewDatabase,
                 char const* containerPath, EFinderRecordSet recordSet = EFinderRecordSet::Legacy);

// The icon position of one item (file, folder or link) in its folder's own database.
bool ProcessItemView(CXmlTree* itemTree, CDesktopDatabase* database);
