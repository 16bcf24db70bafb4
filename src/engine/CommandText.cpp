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

std::string CCommandWord::GetArgument() const
{
    return form == EForm::QuotedPath ? ProtectLeadingDash(value) : value;
}

std::string CCommandWord::FormatText() const
{
    switch (form)
    {
    case EForm::Quoted:
        return QuoteArgument(value);
    case EForm::QuotedPath:
        return QuotePathArgument(value);
    case EForm::Literal:
        break;
    }
    return value;
}

std::string FormatCommandText(std::vector<CCommandWord> const& words)
{
    std::string text;
    for (size_t i = 0; i < words.size(); ++i)
        text += (i == 0 ? "" : " ") + words[i].FormatText();
    return text;
}

std::vector<std::string> ListCommandArguments(std::vector<CCommandWord> const& words)
{
    std::vector<std::string> arguments;
    for (CCommandWord const& word : words)
        arguments.push_back(word.GetArgument());
    return arguments;
}
