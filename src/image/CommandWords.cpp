#include "image/CommandWords.h"

namespace
{
bool IsEscapableInQuotes(char c)
{
    return c == '"' || c == '`' || c == '$' || c == '\\';
}
} // namespace

std::vector<std::string> SplitCommandWords(std::string const& commandText)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool inQuotes = false;
    for (size_t i = 0; i < commandText.size(); ++i)
    {
        char c = commandText[i];
        if (inQuotes)
        {
            if (c == '"')
                inQuotes = false;
            else if (c == '\\' && i + 1 < commandText.size() && IsEscapableInQuotes(commandText[i + 1]))
                word += commandText[++i];
            else
                word += c;
        }
        else if (c == ' ' || c == '\t' || c == '\n')
        {
            if (inWord)
                words.push_back(word);
            word.clear();
            inWord = false;
        }
        else
        {
            inWord = true;
            if (c == '"')
                inQuotes = true;
            else if (c == '\\' && i + 1 < commandText.size())
                word += commandText[++i];
            else
                word += c;
        }
    }
    if (inWord)
        words.push_back(word);
    return words;
}
