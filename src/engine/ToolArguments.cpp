#include "engine/ToolArguments.h"

#include <cctype>

bool ParseToolArguments(std::vector<std::string> const& argv, size_t first,
                        std::set<std::string> const& valueOptions, std::set<std::string> const& flagOptions,
                        CToolArguments* arguments, std::string* error)
{
    for (size_t i = first; i < argv.size(); ++i)
    {
        std::string const& word = argv[i];
        if (word.size() < 2 || word[0] != '-')
        {
            arguments->operands.push_back(word);
            continue;
        }
        if (flagOptions.count(word) != 0)
        {
            arguments->flags.insert(word);
            continue;
        }
        if (valueOptions.count(word) == 0)
        {
            *error = "unknown option " + word;
            return false;
        }
        if (i + 1 >= argv.size())
        {
            *error = "option " + word + " needs a value";
            return false;
        }
        arguments->values[word] = argv[++i];
    }
    return true;
}

bool ParseImageSize(std::string const& text, unsigned long long* bytes, std::string* error)
{
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    size_t digitsStart = i;
    unsigned long long number = 0;
    bool overflow = false;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
    {
        unsigned digit = static_cast<unsigned>(text[i] - '0');
        if (number > (~0ULL - digit) / 10)
            overflow = true;
        else
            number = number * 10 + digit;
    }
    int shift = -1;
    std::string suffix = text.substr(i);
    if (suffix.empty())
        shift = 0;
    else if (suffix.size() == 1)
    {
        switch (std::tolower(static_cast<unsigned char>(suffix[0])))
        {
        case 'k':
            shift = 10;
            break;
        case 'm':
            shift = 20;
            break;
        case 'g':
            shift = 30;
            break;
        case 't':
            shift = 40;
            break;
        default:
            break;
        }
    }
    if (i == digitsStart || shift < 0)
    {
        *error = "invalid size '" + text + "' (expected a number followed by k, m, g or t)";
        return false;
    }
    if (negative || number == 0)
    {
        *error = "invalid size '" + text + "': the size must be greater than zero";
        return false;
    }
    if (overflow || number > (~0ULL >> shift))
    {
        *error = "invalid size '" + text + "': too large";
        return false;
    }
    *bytes = number << shift;
    return true;
}
