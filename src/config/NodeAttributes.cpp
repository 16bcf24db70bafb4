// Attribute getters: each leaves the target untouched unless the attribute is present and
// well-formed, so callers start from their default.
#include "config/XmlAccess.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

bool GetNodeAttribute(CXmlNode const* node, char const* name, std::string* target)
{
    if (!node || !node->hasInfo || !name)
        return false;
    auto found = node->info.attributes.find(name);
    if (found == node->info.attributes.end())
        return false;
    if (!StringGetValue(&found->second, target))
    {
        fprintf(stderr, "Error: Attribute '%s' is not valid UTF-8.\n", name);
        return false;
    }
    return true;
}

bool GetNodeAttribute(CXmlNode const* node, char const* name, bool* target)
{
    std::string text;
    if (!GetNodeAttribute(node, name, &text))
        return false;
    for (char& character : text)
        character = static_cast<char>(tolower(static_cast<unsigned char>(character)));
    if (text == "true" || text == "1" || text == "yes")
    {
        *target = true;
        return true;
    }
    if (text == "false" || text == "0" || text == "no")
    {
        *target = false;
        return true;
    }
    fprintf(stderr, "Warning: Attribute '%s' has unknown boolean value '%s'. Skipping.\n", name,
            text.c_str());
    return false;
}

// Reads like sscanf's "%d" (leading white space, optional sign, digits, the rest ignored), except
// that a number outside the range of int is refused instead of being silently wrapped.
bool GetNodeAttribute(CXmlNode const* node, char const* name, int* target)
{
    std::string text;
    if (!GetNodeAttribute(node, name, &text))
        return false;
    char const* start = text.c_str();
    char* end = nullptr;
    errno = 0;
    long long number = strtoll(start, &end, 10);
    bool digitsRead = end != start;
    if (!digitsRead || errno == ERANGE || number < INT_MIN || number > INT_MAX)
    {
        fprintf(stderr, "Warning: Attribute '%s' has unknown integer value '%s'. Skipping.\n", name,
                text.c_str());
        return false;
    }
    *target = static_cast<int>(number);
    return true;
}

std::string GetNodeAttributeOrDefault(CXmlNode const* node, char const* name, char const* fallback)
{
    std::string value = fallback ? fallback : "";
    GetNodeAttribute(node, name, &value);
    return value;
}

bool GetNodeAttributeOrDefault(CXmlNode const* node, char const* name, bool fallback)
{
    GetNodeAttribute(node, name, &fallback);
    return fallback;
}

int GetNodeAttributeOrDefault(CXmlNode const* node, char const* name, int fallback)
{
    GetNodeAttribute(node, name, &fallback);
    return fallback;
}
