// Text form of a database for "--dump": one line per record, blobs with a hex dump, strings as
// escaped UTF-8 and dates in UTC.
#include "desktopdb/DesktopDatabase.h"
#include "io/ByteOrder.h"
#include "io/MacTime.h"

#include <cinttypes>
#include <cstdio>
#include <string>

namespace
{
unsigned int const kDumpLineBytes = 16;
unsigned int const kDumpGroupBytes = 8;

void PrintBlobDump(std::FILE* out, unsigned int size, unsigned char const* data)
{
    for (unsigned int line = 0; line < size; line += kDumpLineBytes)
    {
        std::fprintf(out, "\n        %04x:", line);
        for (unsigned int j = line; j < line + kDumpLineBytes; ++j)
        {
            if (j % kDumpGroupBytes == 0)
                std::putc(' ', out);
            if (j < size)
                std::fprintf(out, "%02x ", data[j]);
            else
                std::fputs("   ", out);
        }
        std::putc('\'', out);
        unsigned int const end = size - line < kDumpLineBytes ? size : line + kDumpLineBytes;
        for (unsigned int j = line; j < end; ++j)
            std::putc(data[j] >= 0x20 && data[j] <= 0x7E ? data[j] : '.', out);
        std::putc('\'', out);
    }
}
void AppendUtf8(std::string& text, uint32_t point)
{
    if (point < 0x80)
        text.push_back(static_cast<char>(point));
    else if (point < 0x800)
    {
        text.push_back(static_cast<char>(0xC0 | (point >> 6)));
        text.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    }
    else if (point < 0x10000)
    {
        text.push_back(static_cast<char>(0xE0 | (point >> 12)));
        text.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
        text.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    }
    else
    {
        text.push_back(static_cast<char>(0xF0 | (point >> 18)));
        text.push_back(static_cast<char>(0x80 | ((point >> 12) & 0x3F)));
        text.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
        text.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    }
}

// A record name's UTF-16 units (each held in a wide character, of either sign) as UTF-8, as the
// name is written; a surrogate without its partner stands as U+FFFD.
std::string ConvertNameToUtf8(std::wstring const& name)
{
    std::string text;
    for (size_t i = 0; i < name.size(); ++i)
    {
        uint32_t const unit = static_cast<uint32_t>(name[i]) & 0xFFFF;
        uint32_t const next = i + 1 < name.size() ? static_cast<uint32_t>(name[i + 1]) & 0xFFFF : 0;
        if (unit >= 0xD800 && unit <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF)
        {
            AppendUtf8(text, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
            ++i;
        }
        else
            AppendUtf8(text, unit >= 0xD800 && unit <= 0xDFFF ? 0xFFFD : unit);
    }
    return text;
}

void AppendEscape(std::string& text, uint32_t unit)
{
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned int>(unit));
    text += escape;
}

// UTF-16 units (big-endian bytes) as UTF-8 between double quotes. Quotes and backslashes are
// escaped, and so are control characters and unpaired surrogates, so that the line stays one
// line, a backslash always starts an escape and every unit can be told from the text.
std::string QuoteUnicodeString(unsigned int byteCount, unsigned char const* bytes)
{
    std::string text = "\"";
    unsigned int const count = byteCount / 2;
    for (unsigned int i = 0; i < count; ++i)
    {
        uint32_t const unit = GetBe16(bytes + 2 * i);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < count)
        {
            uint32_t const next = GetBe16(bytes + 2 * i + 2);
            if (next >= 0xDC00 && next <= 0xDFFF)
            {
                AppendUtf8(text, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
                ++i;
                continue;
            }
        }
        if (unit == '"' || unit == '\\')
        {
            text.push_back('\\');
            text.push_back(static_cast<char>(unit));
        }
        else if (unit == '\n')
            text += "\\n";
        else if (unit == '\r')
            text += "\\r";
        else if (unit == '\t')
            text += "\\t";
        else if (unit < 0x20 || (unit >= 0x7F && unit <= 0x9F) || (unit >= 0xD800 && unit <= 0xDFFF))
            AppendEscape(text, unit);
        else
            AppendUtf8(text, unit);
    }
    text.push_back('"');
    return text;
}

// Ticks of 1/65536 s since 1904-01-01 00:00:00 UTC as "YYYY-MM-DD HH:MM:SS[.fraction] UTC". The
// fraction is exact: 1/65536 has 16 decimal places. Days become dates in the proleptic
// Gregorian calendar by the usual era arithmetic (eras of 400 years starting on 1 March).
std::string FormatDate(uint64_t ticks)
{
    uint64_t const seconds = ticks >> 16;
    unsigned int const fraction = static_cast<unsigned int>(ticks & 0xFFFF);
    int64_t const days = static_cast<int64_t>(seconds / 86400) - kSecondsFrom1904To1970 / 86400 + 719468; // from 0000-03-01
    unsigned int const secondOfDay = static_cast<unsigned int>(seconds % 86400);
    int64_t const era = days / 146097;
    unsigned int const dayOfEra = static_cast<unsigned int>(days - era * 146097);
    unsigned int const yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    unsigned int const dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    unsigned int const shiftedMonth = (5 * dayOfYear + 2) / 153;
    unsigned int const day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    unsigned int const month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    int64_t const year = static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);

    char text[80];
    int length = std::snprintf(text, sizeof text, "%04" PRId64 "-%02u-%02u %02u:%02u:%02u", year, month, day,
                               secondOfDay / 3600, secondOfDay / 60 % 60, secondOfDay % 60);
    if (fraction != 0)
    {
        // fraction / 65536 = fraction * 5^16 / 10^16.
        char digits[24];
        std::snprintf(digits, sizeof digits, ".%016" PRIu64, static_cast<uint64_t>(fraction) * 152587890625u);
        std::string decimals(digits);
        decimals.erase(decimals.find_last_not_of('0') + 1);
        length +=
            std::snprintf(text + length, sizeof text - static_cast<size_t>(length), "%s", decimals.c_str());
    }
    return std::string(text, static_cast<size_t>(length)) + " UTC";
}

// The code's four bytes as they are, in single quotes, like a key's code.
void PrintFourCharCode(std::FILE* out, char const* prefix, unsigned int code)
{
    std::fputs(prefix, out);
    std::putc('\'', out);
    for (int shift = 24; shift >= 0; shift -= 8)
        std::putc(static_cast<unsigned char>(code >> shift), out);
    std::putc('\'', out);
}
} // namespace

void CDesktopDatabase::CDatabaseKey::Print(std::FILE* out) const
{
    flockfile(out);
    putc_unlocked('"', out);
    for (char character : ConvertNameToUtf8(name))
        putc_unlocked(static_cast<unsigned char>(character), out);
    putc_unlocked('"', out);
    putc_unlocked(' ', out);
    putc_unlocked('\'', out);
    for (int shift = 24; shift >= 0; shift -= 8)
        putc_unlocked(static_cast<unsigned char>(code >> shift), out);
    putc_unlocked('\'', out);
    funlockfile(out);
}

void CDesktopDatabase::CDatabaseValue::Print(std::FILE* out) const
{
    switch (type)
    {
    case MakeFourCharCode("bool"):
        std::fputs(value != 0 ? "true" : "false", out);
        break;
    case MakeFourCharCode("long"):
        std::fprintf(out, "(long)%d (0x%08x)", value, static_cast<unsigned int>(value));
        break;
    case MakeFourCharCode("shor"):
        std::fprintf(out, "(short)%d (0x%04x)", value, static_cast<unsigned int>(value));
        break;
    case MakeFourCharCode("type"):
        PrintFourCharCode(out, "(type)", static_cast<unsigned int>(value));
        break;
    case MakeFourCharCode("ustr"):
    {
        std::string const text = QuoteUnicodeString(size, data);
        std::fputs("(ustr)", out);
        std::fwrite(text.data(), 1, text.size(), out);
        break;
    }
    case MakeFourCharCode("comp"):
        std::fprintf(out, "(comp)%" PRIu64 " (0x%016" PRIx64 ")", wideValue, wideValue);
        break;
    case MakeFourCharCode("dutc"):
        std::fprintf(out, "(dutc)%" PRIu64 " (%s)", wideValue, FormatDate(wideValue).c_str());
        break;
    case MakeFourCharCode("blob"):
        std::fprintf(out, "(blob %d bytes)", static_cast<int>(size));
        PrintBlobDump(out, size, data);
        break;
    default:
        throw "Unknown database value type.";
    }
}

void CDesktopDatabase::Print(std::FILE* out) const
{
    // One lock for the whole listing; the calls below take it again cheaply.
    flockfile(out);
    try
    {
        for (auto const& record : records)
        {
            record.first.Print(out);
            std::fputs(" : ", out);
            record.second.Print(out);
            std::putc('\n', out);
        }
    }
    catch (...)
    {
        funlockfile(out);
        throw;
    }
    funlockfile(out);
}
