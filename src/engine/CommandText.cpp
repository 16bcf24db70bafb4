#include "engine/CommandText.h"

std::string QuoteArgument(std::string const& value)
{
    std::string quoted = "\"";
    for (char c : value)
    {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

std::string ProtectLeadingDash(std::string const& path)
{
    return !path.empty() && path[0] == '-' ? "./" + path : path;
}

std::string QuotePathArgument(std::string const& path)
{
    return QuoteArgument(ProtectLeadingDash(path));
}
