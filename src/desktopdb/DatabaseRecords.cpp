// Keys, values and the insert-or-replace operations of the record map.
#include "desktopdb/DesktopDatabase.h"

#include "hfsplus/HfsNames.h"
#include "io/ByteOrder.h"

#include <cstring>
#include <unicode/ustring.h>

// Records are kept in the order HFS+ gives file names, the order the Finder keeps them in and looks
// them up by: every unit, ASCII included, folded to lower case by TN1150's table (so `_config.yml`
// sorts before `about.md`, as in the Finder's own files), characters HFS+ ignores skipped. The
// folding is done by hand, never by the C library, so a locale set elsewhere in the process can't
// change the order of written files.
int UnicodeStringCompare(std::wstring const& a, std::wstring const& b)
{
    int const order = CompareHfsUnits(a, b);
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

CDesktopDatabase::CDatabaseKey::CDatabaseKey() : code(0) {}

CDesktopDatabase::CDatabaseKey::CDatabaseKey(wchar_t const* name, unsigned int code) : name(name), code(code)
{
}

CDesktopDatabase::CDatabaseKey::CDatabaseKey(char const* text, unsigned int code) : code(code)
{
    // UTF-8 becomes UTF-16 units, one wide character each.
    size_t const length = std::strlen(text);
    std::u16string units(length, u'\0');
    int32_t unitCount = 0;
    UErrorCode status = U_ZERO_ERROR;
    if (length <= size_t(INT32_MAX))
        u_strFromUTF8(reinterpret_cast<UChar*>(&units[0]), int32_t(units.size()), &unitCount, text,
                      int32_t(length), &status);
    if (length <= size_t(INT32_MAX) && U_SUCCESS(status))
    {
        for (int32_t i = 0; i < unitCount; ++i)
            name.push_back(static_cast<wchar_t>(units[size_t(i)]));
        return;
    }
    // Not UTF-8: one unit per byte, taken as a signed 8-bit number, as names were always made.
    for (char const* p = text; *p != '\0'; ++p)
        name.push_back(static_cast<wchar_t>(static_cast<signed char>(*p)));
}

bool CDesktopDatabase::CDatabaseKey::operator<(CDatabaseKey const& other) const
{
    int const order = UnicodeStringCompare(name, other.name);
    if (order != 0)
        return order < 0;
    return code < other.code;
}

CDesktopDatabase::CDatabaseValue::CDatabaseValue() : type(0), value(0), wideValue(0), size(0), data(nullptr)
{
}

CDesktopDatabase::CDatabaseValue::CDatabaseValue(CDatabaseValue const& other)
    : type(other.type), value(other.value), wideValue(other.wideValue), size(other.size), data(nullptr)
{
    if (other.data != nullptr)
    {
        data = new unsigned char[size];
        if (size > 0)
            std::memcpy(data, other.data, size);
    }
}

CDesktopDatabase::CDatabaseValue& CDesktopDatabase::CDatabaseValue::operator=(CDatabaseValue const& other)
{
    if (this == &other)
        return *this;
    FreeValue();
    type = other.type;
    value = other.value;
    wideValue = other.wideValue;
    size = other.size;
    if (other.data != nullptr)
    {
        data = new unsigned char[size];
        if (size > 0)
            std::memcpy(data, other.data, size);
    }
    return *this;
}

CDesktopDatabase::CDatabaseValue::~CDatabaseValue()
{
    FreeValue();
}

void CDesktopDatabase::CDatabaseValue::FreeValue()
{
    delete[] data;
    data = nullptr;
    type = 0;
    value = 0;
    wideValue = 0;
    size = 0;
}

void CDesktopDatabase::CDatabaseValue::SetLongValue(long number)
{
    FreeValue();
    type = MakeFourCharCode("long");
    value = static_cast<int>(number);
}

void CDesktopDatabase::CDatabaseValue::SetShortValue(short number)
{
    FreeValue();
    type = MakeFourCharCode("shor");
    value = static_cast<unsigned short>(number);
}

void CDesktopDatabase::CDatabaseValue::SetBoolValue(bool flag)
{
    FreeValue();
    type = MakeFourCharCode("bool");
    value = flag ? 1 : 0;
}

void CDesktopDatabase::CDatabaseValue::SetBlobValue(unsigned int byteCount, void const* bytes)
{
    // Copy first: the bytes may belong to this very value.
    unsigned char* copy = new unsigned char[byteCount];
    if (byteCount > 0)
        std::memcpy(copy, bytes, byteCount);
    FreeValue();
    type = MakeFourCharCode("blob");
    size = byteCount;
    data = copy;
}

void CDesktopDatabase::CDatabaseValue::SetTypeValue(unsigned int typeCode)
{
    FreeValue();
    type = MakeFourCharCode("type");
    value = static_cast<int>(typeCode);
}

void CDesktopDatabase::CDatabaseValue::SetUnicodeStringValue(std::u16string const& units)
{
    // Copy first, as for blobs.
    unsigned int const byteCount = static_cast<unsigned int>(units.size() * 2);
    unsigned char* copy = new unsigned char[byteCount];
    for (size_t i = 0; i < units.size(); ++i)
        PutBe16(copy + 2 * i, units[i]);
    FreeValue();
    type = MakeFourCharCode("ustr");
    size = byteCount;
    data = copy;
}

void CDesktopDatabase::CDatabaseValue::SetCompValue(uint64_t number)
{
    FreeValue();
    type = MakeFourCharCode("comp");
    wideValue = number;
}

void CDesktopDatabase::CDatabaseValue::SetDateValue(uint64_t ticks)
{
    FreeValue();
    type = MakeFourCharCode("dutc");
    wideValue = ticks;
}

CDesktopDatabase::CDesktopDatabase() = default;

CDesktopDatabase::~CDesktopDatabase() = default;

void CDesktopDatabase::SetBool(char const* name, unsigned int code, bool flag)
{
    records[CDatabaseKey(name, code)].SetBoolValue(flag);
}

void CDesktopDatabase::SetBool(wchar_t const* name, unsigned int code, bool flag)
{
    records[CDatabaseKey(name, code)].SetBoolValue(flag);
}

void CDesktopDatabase::SetShort(char const* name, unsigned int code, short number)
{
    records[CDatabaseKey(name, code)].SetShortValue(number);
}

void CDesktopDatabase::SetShort(wchar_t const* name, unsigned int code, short number)
{
    records[CDatabaseKey(name, code)].SetShortValue(number);
}

void CDesktopDatabase::SetLong(char const* name, unsigned int code, long number)
{
    records[CDatabaseKey(name, code)].SetLongValue(number);
}

void CDesktopDatabase::SetLong(wchar_t const* name, unsigned int code, long number)
{
    records[CDatabaseKey(name, code)].SetLongValue(number);
}

void CDesktopDatabase::SetBlob(char const* name, unsigned int code, unsigned int size, void const* bytes)
{
    records[CDatabaseKey(name, code)].SetBlobValue(size, bytes);
}

void CDesktopDatabase::SetBlob(wchar_t const* name, unsigned int code, unsigned int size, void const* bytes)
{
    records[CDatabaseKey(name, code)].SetBlobValue(size, bytes);
}

void CDesktopDatabase::SetType(char const* name, unsigned int code, unsigned int typeCode)
{
    records[CDatabaseKey(name, code)].SetTypeValue(typeCode);
}

void CDesktopDatabase::SetType(wchar_t const* name, unsigned int code, unsigned int typeCode)
{
    records[CDatabaseKey(name, code)].SetTypeValue(typeCode);
}

void CDesktopDatabase::SetUnicodeString(char const* name, unsigned int code, std::u16string const& units)
{
    records[CDatabaseKey(name, code)].SetUnicodeStringValue(units);
}

void CDesktopDatabase::SetUnicodeString(wchar_t const* name, unsigned int code, std::u16string const& units)
{
    records[CDatabaseKey(name, code)].SetUnicodeStringValue(units);
}

void CDesktopDatabase::SetComp(char const* name, unsigned int code, uint64_t number)
{
    records[CDatabaseKey(name, code)].SetCompValue(number);
}

void CDesktopDatabase::SetComp(wchar_t const* name, unsigned int code, uint64_t number)
{
    records[CDatabaseKey(name, code)].SetCompValue(number);
}

void CDesktopDatabase::SetDate(char const* name, unsigned int code, uint64_t ticks)
{
    records[CDatabaseKey(name, code)].SetDateValue(ticks);
}

void CDesktopDatabase::SetDate(wchar_t const* name, unsigned int code, uint64_t ticks)
{
    records[CDatabaseKey(name, code)].SetDateValue(ticks);
}

bool CDesktopDatabase::IsEmpty() const
{
    return records.empty();
}
