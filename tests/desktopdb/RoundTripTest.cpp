// Random databases survive a write and a read unchanged, and write the same bytes every time.
#include "DatabaseTestSupport.h"

#include <cstring>
#include <random>

namespace
{
void FillRandomly(CDesktopDatabase& database, std::mt19937& random, int count)
{
    unsigned int const codes[] = {MakeFourCharCode("Iloc"), MakeFourCharCode("bwsp"),
                                  MakeFourCharCode("icvp"), MakeFourCharCode("vSrn"),
                                  MakeFourCharCode("dilc")};
    for (int i = 0; i < count; ++i)
    {
        std::wstring name(random() % 12, L'\0');
        for (wchar_t& unit : name)
            unit = random() % 4 == 0 ? static_cast<wchar_t>(static_cast<short>(random())) // any 16-bit unit
                                     : static_cast<wchar_t>(L'A' + random() % 58);
        unsigned int const code = codes[random() % 5];
        switch (random() % 8)
        {
        case 0:
            database.SetBool(name.c_str(), code, random() % 2 == 0);
            break;
        case 1:
            database.SetShort(name.c_str(), code, static_cast<short>(random()));
            break;
        case 2:
            database.SetLong(name.c_str(), code, static_cast<int>(random()));
            break;
        case 3:
            database.SetType(name.c_str(), code, static_cast<unsigned int>(random()));
            break;
        case 4:
        {
            std::u16string units(random() % 40, u'\0');
            for (char16_t& unit : units)
                unit = static_cast<char16_t>(random());
            database.SetUnicodeString(name.c_str(), code, units);
            break;
        }
        case 5:
            database.SetComp(name.c_str(), code, (uint64_t(random()) << 32) | random());
            break;
        case 6:
            database.SetDate(name.c_str(), code, (uint64_t(random()) << 32) | random());
            break;
        default:
        {
            std::vector<unsigned char> bytes(random() % 200);
            for (unsigned char& byte : bytes)
                byte = static_cast<unsigned char>(random());
            database.SetBlob(name.c_str(), code, static_cast<unsigned int>(bytes.size()), bytes.data());
        }
        }
    }
}

void ExpectSameRecords(CDesktopDatabase const& expected, CDesktopDatabase const& actual)
{
    ASSERT_EQ(expected.records.size(), actual.records.size());
    auto left = expected.records.begin();
    for (auto right = actual.records.begin(); right != actual.records.end(); ++left, ++right)
    {
        EXPECT_EQ(left->first.name, right->first.name);
        EXPECT_EQ(left->first.code, right->first.code);
        EXPECT_EQ(left->second.type, right->second.type);
        EXPECT_EQ(left->second.value, right->second.value);
        EXPECT_EQ(left->second.wideValue, right->second.wideValue);
        ASSERT_EQ(left->second.size, right->second.size);
        if (left->second.size > 0)
        {
            EXPECT_EQ(std::memcmp(left->second.data, right->second.data, left->second.size), 0);
        }
    }
}

// Walks the tree the way other readers do: an internal node's word names its rightmost child,
// and the number before each record the child holding the smaller keys.
void CollectInOrder(std::string const& image, std::vector<unsigned int> const& table, unsigned int number,
                    std::vector<CDesktopDatabase::CDatabaseKey>& keys)
{
    unsigned int const position = table.at(number) & ~15u;
    std::istringstream in(image.substr(position, 1u << (table[number] & 15)));
    StreamReadInt(in);
    unsigned int const rightmost = static_cast<unsigned int>(StreamReadInt(in));
    int const count = StreamReadInt(in);
    for (int i = 0; i < count; ++i)
    {
        if (rightmost != 0)
            CollectInOrder(image, table, static_cast<unsigned int>(StreamReadInt(in)), keys);
        CDesktopDatabase::CDatabaseKey key;
        CDesktopDatabase::CDatabaseValue value;
        key.Read(in);
        value.Read(in);
        keys.push_back(key);
    }
    if (rightmost != 0)
        CollectInOrder(image, table, rightmost, keys);
}
} // namespace

TEST(RoundTrip, RandomDatabasesReadBackEqual)
{
    std::mt19937 random(20261207);
    for (int round = 0; round < 12; ++round)
    {
        CDesktopDatabase source;
        FillRandomly(source, random, round * round * 20);
        std::string const image = source.BuildFileImage();
        EXPECT_TRUE(SameBytes(source.BuildFileImage(), image));
        CDesktopDatabase copy;
        std::istringstream in(image);
        copy.ReadFromStream(in);
        ExpectSameRecords(source, copy);
        EXPECT_TRUE(SameBytes(copy.BuildFileImage(), image));
    }
}

TEST(RoundTrip, TreeWalkedByOtherReadersListsKeysInOrder)
{
    for (int count : {20, 60, 100, 75400})
    {
        CDesktopDatabase database;
        if (count == 75400)
            for (int code = 0; code < count; ++code)
                database.SetBool("", static_cast<unsigned int>(code), false);
        else
            for (int i = 0; i < count; ++i)
                AddRecordOfLength(database, "r" + std::to_string(1000 + i), 300);
        std::string const image = database.BuildFileImage();
        unsigned int const directory = WordAt(image, 8);
        std::vector<unsigned int> table;
        for (unsigned int k = 0; k < WordAt(image, directory + 4); ++k)
            table.push_back(WordAt(image, directory + 12 + 4 * k));
        std::vector<CDesktopDatabase::CDatabaseKey> keys;
        CollectInOrder(image, table, WordAt(image, 68), keys);
        ASSERT_EQ(keys.size(), database.records.size()) << count;
        EXPECT_EQ(WordAt(image, 76), database.records.size());
        size_t index = 0;
        for (auto const& record : database.records)
        {
            EXPECT_EQ(keys[index].name, record.first.name);
            EXPECT_EQ(keys[index].code, record.first.code);
            ++index;
        }
    }
}
