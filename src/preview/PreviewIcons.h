// The icons of the preview picture: an application's own icon from its bundle, and generic
// folder, document, application and alias icons drawn with cairo.
#pragma once

#include "config/XmlTree.h"
#include "preview/PreviewPicture.h"

#include <cairo.h>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

using CSurface = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;

// A PNG picture in memory; an empty surface when the bytes are not one.
CSurface LoadPngBytes(uint8_t const* data, size_t size);

// Adds a rectangle with corners of radius r to the path.
void AddRoundedRectangle(cairo_t* cr, double x, double y, double w, double h, double r);

// Draws the icon of the item element `item`, whose path on the volume is `volumePath`, as a square
// of `size` points centred on (x, y).
void DrawItemIcon(cairo_t* cr, CXmlTree const* item, std::string const& volumePath,
                  CVolumeReader const& volume, double x, double y, double size);
