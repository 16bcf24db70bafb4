// Text form of a database for "--dump": one line per record, blobs with a hex dump.
#include "desktopdb/DesktopDatabase.h"

#include <cstdio>

namespace
{
unsigned int const kDumpLineBytes = 16;
unsigned int const kDumpGroupBytes = 8;

void PrintBlobDump(unsigned int size, unsigned char const* data)
{
    for (unsigned int line = 0; line < size; line += kDumpLineBytes)
    {
        std::printf("\n        %04x:", line);
        for (unsigned int j = line; j < line + kDumpLineBytes; ++j)
        {
            if (j % kDumpGroupBytes == 0)
                std::putchar(' ');
            if (j < size)
                std::printf("%02x ", data[j]);
            else
                std::fputs("   ", stdout);
        }
        std::putchar('\'');
        unsigned int const end = size - line < kDumpLineBytes ? size : line + kDumpLineBytes;
        for (unsigned int j = line; j < end; ++j)
            std::putchar(data[j] >= 0x20 && data[j] <= 0x7E ? data[j] : '.');
        std::putchar('\'');
    }
}
} // namespace

void CDesktopDatabase::CDatabaseKey::Print() const
{
    flockfile(stdout);
    putc_unlocked('"', stdout);
    for (wchar_t unit : name)
        putc_unlocked(static_cast<unsigned char>(unit & 0xFF), stdout);
    putc_unlocked('"', stdout);
    putc_unlocked(' ', stdout);
    putc_unlocked('\'', stdout);
    for (int shift = 24; shift >= 0; shift -= 8)
        putc_unlocked(static_cast<unsigned char>(code >> shift), stdout);
    putc_unlocked('\'', stdout);
    funlockfile(stdout);
}

void CDesktopDatabase::CDatabaseValue::Print() const
{
    switch (type)
    {
    case MakeFourCharCode("bool"):
        std::fputs(value != 0 ? "true" : "false", stdout);
        break;
    case MakeFourCharCode("long"):
        std::printf("(long)%d (0x%08x)", value, static_cast<unsigned int>(value));
        break;
    case MakeFourCharCode("shor"):
        std::printf("(short)%d (0x%04x)", value, static_cast<unsigned int>(value));
        break;
    case MakeFourCharCode("blob"):
        std::printf("(blob %d bytes)", static_cast<int>(size));
        PrintBlobDump(size, data);
        break;
    default:
        throw "Unknown database value type.";
    }
}

void CDesktopDatabase::Print() const
{
    // One lock for the whole listing; the calls below take it again cheaply.
    flockfile(stdout);
    try
    {
        for (auto const& record : records)
        {
            record.first.Print();
            std::fputs(" : ", stdout);
            record.second.Print();
            std::putchar('\n');
        }
    }
    catch (...)
    {
        funlockfile(stdout);
        throw;
    }
    funlockfile(stdout);
}
