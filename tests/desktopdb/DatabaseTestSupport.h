// Small helpers shared by the desktop database tests: byte strings, words and record makers.
#pragma once

#include "FinderFileBuilder.h"
#include "desktopdb/DesktopDatabase.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

inline std::string Bytes(std::initializer_list<int> values)
{
    std::string bytes;
    for (int value : values)
        bytes.push_back(static_cast<char>(value));
    return bytes;
}

inline unsigned int WordAt(std::string const& image, size_t position)
{
    unsigned int word = 0;
    for (size_t i = 0; i < 4; ++i)
        word = (word << 8) | static_cast<unsigned char>(image.at(position + i));
    return word;
}

inline void SetWordAt(std::string& image, size_t position, unsigned int word)
{
    std::string const bytes = Words({word});
    image.replace(position, 4, bytes);
}

// Adds a blob record whose encoding is exactly `length` bytes (at least 22 for a 3-letter name).
inline void AddRecordOfLength(CDesktopDatabase& database, std::string const& name, unsigned int length)
{
    unsigned int const overhead = 8 + 2 * static_cast<unsigned int>(name.size()) + 8;
    std::vector<unsigned char> payload(length - overhead, 0x5A);
    database.SetBlob(name.c_str(), MakeFourCharCode("blob"), static_cast<unsigned int>(payload.size()),
                     payload.data());
}

// Compares two byte strings, naming the first differing offset instead of dumping both.
inline testing::AssertionResult SameBytes(std::string const& actual, std::string const& expected)
{
    size_t offset = 0;
    while (offset < actual.size() && offset < expected.size() && actual[offset] == expected[offset])
        ++offset;
    if (offset == actual.size() && offset == expected.size())
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "sizes " << actual.size() << " and " << expected.size()
                                       << ", first difference at offset " << offset;
}

// The free-list section for the given (exponent, positions) entries; other lists empty.
inline std::string FreeListBytes(std::vector<std::vector<unsigned int>> const& lists)
{
    std::string bytes;
    for (int exponent = 0; exponent < 31; ++exponent)
    {
        std::vector<unsigned int> const empty;
        std::vector<unsigned int> const& list =
            exponent < static_cast<int>(lists.size()) ? lists[exponent] : empty;
        bytes += Words({static_cast<unsigned int>(list.size())});
        for (unsigned int position : list)
            bytes += Words({position});
    }
    return bytes;
}

// The allocator's starting state: 2^e free for e = 5..30 except 11.
inline std::vector<std::vector<unsigned int>> TemplateLists()
{
    std::vector<std::vector<unsigned int>> lists(31);
    for (int exponent = 5; exponent < 31; ++exponent)
        if (exponent != 11)
            lists[exponent].push_back(1u << exponent);
    return lists;
}

// Runs body and returns what it printed on the standard output.
template <typename Body> std::string CapturePrinted(Body body)
{
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    body();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

// Runs body and returns the text it threw, or "" when it threw nothing.
template <typename Body> std::string ThrownText(Body body)
{
    try
    {
        body();
    }
    catch (char const* text)
    {
        return text;
    }
    return "";
}

// The text a reading of the bytes throws; empty when they read without one.
inline std::string ReadError(std::string const& image, CDesktopDatabase& database)
{
    std::istringstream in(image);
    return ThrownText([&] { database.ReadFromStream(in); });
}

inline std::string ReadError(std::string const& image)
{
    CDesktopDatabase database;
    return ReadError(image, database);
}
