// Byte form of one record (key, then value) and the big-endian integer helpers.
#include "desktopdb/DesktopDatabase.h"
#include "io/ByteOrder.h"

#include <algorithm>
#include <istream>
#include <ostream>
#include <vector>

namespace
{
char const* const kReadBeyondEnd = "Error: Read beyond end of block.";
char const* const kUnknownValueType = "Unknown database value type.";
int const kLongestName = 256;

// Bytes between the read position and the end of the stream, or -1 when the stream can't tell.
std::streamoff CountBytesLeft(std::istream& in)
{
    std::streambuf* buffer = in.rdbuf();
    if (buffer == nullptr || !in.good())
        return -1;
    std::streamoff const here = buffer->pubseekoff(0, std::ios::cur, std::ios::in);
    if (here < 0)
        return -1;
    std::streamoff const end = buffer->pubseekoff(0, std::ios::end, std::ios::in);
    buffer->pubseekpos(here, std::ios::in);
    return end < here ? -1 : end - here;
}

// Reads exactly count bytes into the value's buffer, never allocating more than the stream
// still holds: a length field is untrusted.
unsigned char* ReadBlobBytes(std::istream& in, unsigned int count)
{
    std::streamoff const left = CountBytesLeft(in);
    if (left >= 0)
    {
        if (static_cast<std::streamoff>(count) > left)
            throw kReadBeyondEnd;
        unsigned char* bytes = new unsigned char[count];
        in.read(reinterpret_cast<char*>(bytes), count);
        if (static_cast<unsigned int>(in.gcount()) != count)
        {
            delete[] bytes;
            throw kReadBeyondEnd;
        }
        return bytes;
    }
    // A stream that can't report its length: grow in steps as the bytes actually arrive.
    std::vector<unsigned char> collected;
    while (collected.size() < count)
    {
        size_t const step = std::min<size_t>(count - collected.size(), 65536);
        size_t const start = collected.size();
        collected.resize(start + step);
        in.read(reinterpret_cast<char*>(collected.data() + start), static_cast<std::streamsize>(step));
        if (static_cast<size_t>(in.gcount()) != step)
            throw kReadBeyondEnd;
    }
    unsigned char* bytes = new unsigned char[count];
    std::copy(collected.begin(), collected.end(), bytes);
    return bytes;
}
} // namespace

void StreamWriteInt(std::ostream& out, int number)
{
    uint8_t bytes[4];
    PutBe32(bytes, static_cast<uint32_t>(number));
    out.write(reinterpret_cast<char const*>(bytes), 4);
}

char StreamReadChar(std::istream& in)
{
    // What istream::get does, without building a sentry for every byte: a stream that has failed
    // (a short block read, a seek that could not be done) yields nothing more.
    if (!in.good())
        throw kReadBeyondEnd;
    int const byte = in.rdbuf()->sbumpc();
    if (byte == std::istream::traits_type::eof())
    {
        in.setstate(std::ios::eofbit | std::ios::failbit);
        throw kReadBeyondEnd;
    }
    return static_cast<char>(byte);
}

int StreamReadInt(std::istream& in)
{
    uint8_t bytes[4];
    for (uint8_t& byte : bytes)
        byte = static_cast<uint8_t>(StreamReadChar(in));
    return static_cast<int>(GetBe32(bytes));
}

void CDesktopDatabase::CDatabaseKey::Write(std::ostream& out) const
{
    StreamWriteInt(out, static_cast<int>(name.size()));
    for (wchar_t unit : name)
    {
        uint8_t bytes[2];
        PutBe16(bytes, static_cast<uint16_t>(unit));
        out.write(reinterpret_cast<char const*>(bytes), 2);
    }
    StreamWriteInt(out, static_cast<int>(code));
}

void CDesktopDatabase::CDatabaseKey::Read(std::istream& in)
{
    int const length = StreamReadInt(in);
    // A negative length is as invalid as an overlong one, and must be refused before sizing.
    if (length < 0 || length > kLongestName)
        throw "Error: Invalid File Contents: Invalid String Length.";
    name.assign(static_cast<size_t>(length), L'\0');
    for (int i = 0; i < length; ++i)
    {
        uint8_t bytes[2];
        bytes[0] = static_cast<uint8_t>(StreamReadChar(in));
        bytes[1] = static_cast<uint8_t>(StreamReadChar(in));
        name[i] = static_cast<wchar_t>(static_cast<short>(GetBe16(bytes)));
    }
    code = static_cast<unsigned int>(StreamReadInt(in));
}

void CDesktopDatabase::CDatabaseValue::Write(std::ostream& out) const
{
    StreamWriteInt(out, static_cast<int>(type));
    switch (type)
    {
    case MakeFourCharCode("bool"):
        out.put(static_cast<char>(value & 0xFF));
        break;
    case MakeFourCharCode("shor"):
    case MakeFourCharCode("long"):
    case MakeFourCharCode("type"):
        StreamWriteInt(out, value);
        break;
    case MakeFourCharCode("comp"):
    case MakeFourCharCode("dutc"):
        StreamWriteInt(out, static_cast<int>(static_cast<uint32_t>(wideValue >> 32)));
        StreamWriteInt(out, static_cast<int>(static_cast<uint32_t>(wideValue)));
        break;
    case MakeFourCharCode("ustr"):
        // The count is in UTF-16 units; data holds them big-endian already.
        StreamWriteInt(out, static_cast<int>(size / 2));
        if (size > 0)
            out.write(reinterpret_cast<char const*>(data), size);
        break;
    case MakeFourCharCode("blob"):
        StreamWriteInt(out, static_cast<int>(size));
        if (size > 0)
            out.write(reinterpret_cast<char const*>(data), size);
        break;
    default:
        throw kUnknownValueType;
    }
}

void CDesktopDatabase::CDatabaseValue::Read(std::istream& in)
{
    FreeValue();
    type = static_cast<unsigned int>(StreamReadInt(in));
    switch (type)
    {
    case MakeFourCharCode("bool"):
        value = StreamReadChar(in) != 0 ? 1 : 0;
        break;
    case MakeFourCharCode("long"):
    case MakeFourCharCode("type"):
        value = StreamReadInt(in);
        break;
    case MakeFourCharCode("comp"):
    case MakeFourCharCode("dutc"):
    {
        uint64_t const high = static_cast<uint32_t>(StreamReadInt(in));
        wideValue = (high << 32) | static_cast<uint32_t>(StreamReadInt(in));
        break;
    }
    case MakeFourCharCode("ustr"):
    {
        uint64_t const units = static_cast<uint32_t>(StreamReadInt(in));
        // Twice the count may not fit a word: such a count can only run past the end.
        if (units > 0x7FFFFFFF)
            throw kReadBeyondEnd;
        unsigned int const length = static_cast<unsigned int>(units * 2);
        data = ReadBlobBytes(in, length);
        size = length;
        break;
    }
    case MakeFourCharCode("shor"):
    {
        int const number = StreamReadInt(in);
        if (static_cast<unsigned int>(number) > 0xFFFF)
            throw "Invalid Short Value.";
        value = number;
        break;
    }
    case MakeFourCharCode("blob"):
    {
        unsigned int const length = static_cast<unsigned int>(StreamReadInt(in));
        data = ReadBlobBytes(in, length);
        size = length;
        break;
    }
    default:
        throw kUnknownValueType;
    }
}
