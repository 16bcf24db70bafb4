// An independent reading of the binary property lists the image code writes: libplist's
// plistutil tool turns the bytes into XML, and the entries of the top-level dictionary are picked
// out of that text.
#pragma once

#include "support/ImageTestSupport.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

struct CPlistEntry
{
    std::string kind; // element name: real, integer, string, data, true, false
    std::string text; // element content; data without its white space
};

inline bool operator==(CPlistEntry const& a, CPlistEntry const& b)
{
    return a.kind == b.kind && a.text == b.text;
}

inline std::ostream& operator<<(std::ostream& out, CPlistEntry const& entry)
{
    return out << entry.kind << "(" << entry.text << ")";
}

// Dictionary entries by key; empty with a test failure when plistutil can't read the bytes.
inline std::map<std::string, CPlistEntry> ReadPlistWithTool(std::vector<unsigned char> const& bytes)
{
    CTempFolder folder;
    std::string input = folder.path + "/in.plist";
    std::string output = folder.path + "/out.xml";
    std::ofstream(input, std::ios::binary).write(reinterpret_cast<char const*>(bytes.data()), bytes.size());
    std::string command = "plistutil -i '" + input + "' -o '" + output + "' 2>/dev/null";
    if (RunShell(command) != 0)
    {
        ADD_FAILURE() << "plistutil could not read the property list";
        return {};
    }
    std::stringstream xml;
    xml << std::ifstream(output).rdbuf();
    std::string text = xml.str();

    std::map<std::string, CPlistEntry> entries;
    size_t position = 0;
    while ((position = text.find("<key>", position)) != std::string::npos)
    {
        size_t keyEnd = text.find("</key>", position);
        size_t valueStart = text.find('<', keyEnd + 6);
        size_t tagEnd = text.find('>', valueStart);
        if (keyEnd == std::string::npos || valueStart == std::string::npos || tagEnd == std::string::npos)
            break;
        std::string key = text.substr(position + 5, keyEnd - position - 5);
        std::string tag = text.substr(valueStart + 1, tagEnd - valueStart - 1);
        CPlistEntry value;
        position = tagEnd + 1;
        if (!tag.empty() && tag.back() == '/')
            value.kind = tag.substr(0, tag.size() - 1);
        else
        {
            value.kind = tag;
            size_t close = text.find("</" + tag + ">", position);
            for (size_t index = position; index < close && index < text.size(); ++index)
            {
                // Only base64 data is broken into lines and indented by the tool.
                if (tag != "data" || !std::isspace(static_cast<unsigned char>(text[index])))
                    value.text += text[index];
            }
        }
        entries[key] = value;
    }
    if (text.find("<plist") == std::string::npos)
        ADD_FAILURE() << "plistutil wrote no property list: " << text;
    return entries;
}

// A real compares by number: plistutil writes 48 as "48" and 0 as "0.0".
inline CPlistEntry Real(double number)
{
    return {"real", std::to_string(number)};
}

inline CPlistEntry NormalizeReal(CPlistEntry entry)
{
    if (entry.kind == "real")
        entry.text = std::to_string(std::stod(entry.text));
    return entry;
}

inline CPlistEntry Integer(long long number)
{
    return {"integer", std::to_string(number)};
}

inline CPlistEntry String(std::string text)
{
    return {"string", std::move(text)};
}

inline CPlistEntry Flag(bool flag)
{
    return {flag ? "true" : "false", ""};
}

inline CPlistEntry Data(std::vector<unsigned char> const& bytes)
{
    static char const alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (size_t index = 0; index < bytes.size(); index += 3)
    {
        unsigned int group = static_cast<unsigned int>(bytes[index]) << 16;
        if (index + 1 < bytes.size())
            group |= static_cast<unsigned int>(bytes[index + 1]) << 8;
        if (index + 2 < bytes.size())
            group |= bytes[index + 2];
        text += alphabet[(group >> 18) & 63];
        text += alphabet[(group >> 12) & 63];
        text += index + 1 < bytes.size() ? alphabet[(group >> 6) & 63] : '=';
        text += index + 2 < bytes.size() ? alphabet[group & 63] : '=';
    }
    return {"data", text};
}

// The entries with every real written the same way, for comparison against Real().
inline std::map<std::string, CPlistEntry> ReadNormalizedPlist(std::vector<unsigned char> const& bytes)
{
    std::map<std::string, CPlistEntry> entries = ReadPlistWithTool(bytes);
    for (auto& [key, value] : entries)
        value = NormalizeReal(value);
    return entries;
}
