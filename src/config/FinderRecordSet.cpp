// Reading the image's finder_records value into the record generations to write.
#include "config/FinderRecordSet.h"

#include "config/XmlAccess.h"

#include <cstdio>
#include <string>
#include <strings.h>

EFinderRecordSet ReadFinderRecordSet(CXmlNode const* imageNode)
{
    std::string value;
    if (!GetNodeAttribute(imageNode, "finder_records", &value))
        return EFinderRecordSet::Legacy;
    // Letter case is ignored, as for the other word-valued attributes such as text_position.
    if (strcasecmp(value.c_str(), "legacy") == 0)
        return EFinderRecordSet::Legacy;
    if (strcasecmp(value.c_str(), "modern") == 0)
        return EFinderRecordSet::Modern;
    if (strcasecmp(value.c_str(), "both") == 0)
        return EFinderRecordSet::Both;
    std::fprintf(stderr,
                 "Warning: 'image' tag attribute 'finder_records' has unknown value '%s'. Using 'legacy'.\n",
                 value.c_str());
    return EFinderRecordSet::Legacy;
}

bool WritesLegacyRecords(EFinderRecordSet recordSet)
{
    return recordSet != EFinderRecordSet::Modern;
}

bool WritesModernRecords(EFinderRecordSet recordSet)
{
    return recordSet != EFinderRecordSet::Legacy;
}
