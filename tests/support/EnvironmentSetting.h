// One environment variable set (or unset) while the object lives; what it was comes back after.
#pragma once

#include <cstdlib>
#include <string>

class CEnvironmentSetting
{
public:
    // A null value unsets the variable.
    CEnvironmentSetting(char const* name, char const* value) : name(name)
    {
        char const* before = std::getenv(name);
        hadBefore = before != nullptr;
        if (hadBefore)
            previous = before;
        if (value != nullptr)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~CEnvironmentSetting()
    {
        if (hadBefore)
            setenv(name.c_str(), previous.c_str(), 1);
        else
            unsetenv(name.c_str());
    }
    CEnvironmentSetting(CEnvironmentSetting const&) = delete;
    CEnvironmentSetting& operator=(CEnvironmentSetting const&) = delete;

private:
    std::string name;
    bool hadBefore = false;
    std::string previous;
};
