// The settings attributes of a view element, read once so that a value that does not parse is
// reported once, however many record sets are written from it.
#pragma once

#include "config/XmlTree.h"

#include <optional>
#include <string>

// A colour background's components, 0-255 each.
struct CBackgroundColor
{
    unsigned char red = 0;
    unsigned char green = 0;
    unsigned char blue = 0;
};

// An attribute that is absent or does not parse stays empty; each writer applies its own default.
struct CViewAttributes
{
    std::optional<int> x;
    std::optional<int> y;
    std::optional<int> width;
    std::optional<int> height;
    std::optional<bool> showToolbar;
    std::optional<bool> grid;
    std::optional<int> iconSize;
    std::optional<std::string> textPosition;
    std::optional<int> toolbarWidth;
    std::optional<int> fontSize;
    // Set by the view handler once `background_color` is checked and no picture takes its place.
    std::optional<CBackgroundColor> backgroundColor;
};

// Reads in the order the window, icon view, toolbar width and text size records are made, so the
// warnings of unparsable values come in that order.
CViewAttributes ReadViewAttributes(CXmlNode const* viewNode);

bool HasWindowRectangle(CViewAttributes const& view);
bool HasWindowAttributes(CViewAttributes const& view);
bool HasIconViewAttributes(CViewAttributes const& view);
// True when `text_position` is "right", ignoring letter case.
bool HasLabelOnRight(CViewAttributes const& view);

// Reads "#RRGGBB" (hexadecimal digits in either case); false for anything else.
bool ParseBackgroundColor(std::string const& text, CBackgroundColor* color);
