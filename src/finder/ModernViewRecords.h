// The window and icon view records that the Finder has kept since Mac OS X 10.6: binary property
// lists in "bwsp" (window) and "icvp" (icon view), the view style in "icvl", and the "vSrn" version
// beside them.
#pragma once

#include "desktopdb/DesktopDatabase.h"
#include "config/ViewAttributes.h"

#include <string>
#include <vector>

// Window positions in the configuration count from the top of the screen, the Finder's from the
// bottom. Not knowing the user's screen, the flip uses a reference screen this many points high.
constexpr int kReferenceScreenHeight = 900;

// The window around the content area on current macOS, in points: the title bar, and the toolbar
// below it when shown. The Finder's WindowBounds count them in, and the preview picture draws them
// above the content.
constexpr int kTitleBarHeight = 28;
constexpr int kToolbarHeight = 24;

// The points a window adds above its content area: the title bar, and the toolbar when shown.
int GetWindowFrameHeight(CViewAttributes const& view);

// "{{X, Y}, {W, H}}", the whole window as the Finder keeps it: W = width, H = height plus
// GetWindowFrameHeight, so that the content area is width x height; X as given,
// Y = kReferenceScreenHeight - (y + H) but not below 0; width and height not below 0.
std::string FormatWindowBounds(CViewAttributes const& view);

// The "bwsp" property list; only meaningful when HasWindowSettings is true. Fails, with the reason in
// `error`, only when the property list can't be encoded.
[[nodiscard]] bool BuildWindowSettings(CViewAttributes const& view, std::vector<unsigned char>* bytes,
                                       std::string* error);
bool HasWindowSettings(CViewAttributes const& view);

// The "icvp" property list. backgroundAlias, when not null, is the alias record of the
// background picture, the same bytes as the legacy "pict" record. Fails as BuildWindowSettings does.
[[nodiscard]] bool BuildIconViewSettings(CViewAttributes const& view,
                                         std::vector<unsigned char> const* backgroundAlias,
                                         std::vector<unsigned char>* bytes, std::string* error);

// Sets "icvl", "icvp", "vSrn" and, when the view sets any window attribute, "bwsp" under viewName.
// Fails, with the reason in `error`, when a property list can't be encoded.
[[nodiscard]] bool SetModernViewRecords(CViewAttributes const& view,
                                        std::vector<unsigned char> const* backgroundAlias,
                                        char const* viewName, CDesktopDatabase* database, std::string* error);
