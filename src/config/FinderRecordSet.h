// Which generation of Finder view records an image gets: the records the Finder read up to
// Mac OS X 10.5, the property list records of later systems, or both.
#pragma once

#include "config/XmlTree.h"

enum class EFinderRecordSet
{
    Legacy,
    Modern,
    Both
};

// The image element's `finder_records` attribute. Absent means legacy, so that configurations
// written before the choice existed keep giving the same files; an unknown value is reported and
// also means legacy.
EFinderRecordSet ReadFinderRecordSet(CXmlNode const* imageNode);

bool WritesLegacyRecords(EFinderRecordSet recordSet);
bool WritesModernRecords(EFinderRecordSet recordSet);
