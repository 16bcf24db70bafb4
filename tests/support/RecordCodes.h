// The four-character codes of the desktop database records that the tests look for.
#pragma once

#include "desktopdb/DesktopDatabase.h"

// Written for every Finder.
constexpr unsigned int kLocation = MakeFourCharCode("Iloc"); // an item's icon position
constexpr unsigned int kMarker = MakeFourCharCode("QRVL");   // the marker every written database holds

// Legacy window and icon view records.
constexpr unsigned int kWindow = MakeFourCharCode("fwi0");
constexpr unsigned int kIconSpacing = MakeFourCharCode("icsp");
constexpr unsigned int kIconGrid = MakeFourCharCode("icgo");
constexpr unsigned int kIconOptions = MakeFourCharCode("icvo");
constexpr unsigned int kIconOptionsFlag = MakeFourCharCode("ICVO");
constexpr unsigned int kToolbarWidth = MakeFourCharCode("fwsw");
constexpr unsigned int kTextSize = MakeFourCharCode("icvt");
constexpr unsigned int kPicture = MakeFourCharCode("pict");
constexpr unsigned int kBackground = MakeFourCharCode("BKGD");

// Records of Mac OS X 10.6 and later.
constexpr unsigned int kWindowSettings = MakeFourCharCode("bwsp");
constexpr unsigned int kIconViewSettings = MakeFourCharCode("icvp");
constexpr unsigned int kViewStyle = MakeFourCharCode("icvl");
constexpr unsigned int kVersion = MakeFourCharCode("vSrn");
