// Reading a view element's attributes once for every record set written from it.
#include "config/ViewAttributes.h"

#include "config/XmlAccess.h"
#include "io/HexDigits.h"

#include <strings.h>

namespace
{
template <typename T> void ReadOptional(CXmlNode const* node, char const* name, std::optional<T>* target)
{
    T value{};
    if (GetNodeAttribute(node, name, &value))
        *target = value;
}
} // namespace

CViewAttributes ReadViewAttributes(CXmlNode const* viewNode)
{
    CViewAttributes view;
    ReadOptional(viewNode, "x", &view.x);
    ReadOptional(viewNode, "y", &view.y);
    ReadOptional(viewNode, "width", &view.width);
    ReadOptional(viewNode, "height", &view.height);
    ReadOptional(viewNode, "show_toolbar", &view.showToolbar);
    ReadOptional(viewNode, "grid", &view.grid);
    ReadOptional(viewNode, "icon_size", &view.iconSize);
    ReadOptional(viewNode, "text_position", &view.textPosition);
    ReadOptional(viewNode, "toolbar_width", &view.toolbarWidth);
    ReadOptional(viewNode, "font_size", &view.fontSize);
    return view;
}

bool HasWindowRectangle(CViewAttributes const& view)
{
    return view.x || view.y || view.width || view.height;
}

bool HasWindowAttributes(CViewAttributes const& view)
{
    return HasWindowRectangle(view) || view.showToolbar;
}

bool HasIconViewAttributes(CViewAttributes const& view)
{
    return view.grid || view.iconSize || view.textPosition;
}

bool ParseBackgroundColor(std::string const& text, CBackgroundColor* color)
{
    if (text.size() != 7 || text[0] != '#')
        return false;
    unsigned char components[3];
    for (size_t i = 0; i < 3; ++i)
    {
        int value = 0;
        for (char c : text.substr(1 + 2 * i, 2))
        {
            int digit = GetHexDigitValue(c);
            if (digit < 0)
                return false;
            value = value * 16 + digit;
        }
        components[i] = static_cast<unsigned char>(value);
    }
    *color = {components[0], components[1], components[2]};
    return true;
}

bool HasLabelOnRight(CViewAttributes const& view)
{
    return view.textPosition && strcasecmp(view.textPosition->c_str(), "right") == 0;
}
