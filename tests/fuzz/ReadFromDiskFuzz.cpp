// libFuzzer target for the desktop database reader: any input must be read, or refused with a
// thrown message, without crashing, hanging or allocating far beyond the input's size. What was
// read is printed (to /dev/null) and written again, to exercise those paths on odd records too.
//
// Run with KILNPACK_FUZZ_SEED_DIR=DIR to write seed files made by the writer into DIR and exit.
#include "../desktopdb/FinderFileBuilder.h"
#include "desktopdb/DesktopDatabase.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace
{
void WriteSeed(std::string const& folder, std::string const& name, CDesktopDatabase const& database)
{
    database.WriteToDisk((folder + "/" + name).c_str());
}

void WriteBytesSeed(std::string const& folder, std::string const& name, std::string const& bytes)
{
    std::ofstream out(folder + "/" + name, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void AddPayload(CDesktopDatabase& database, char const* name, unsigned int code, unsigned int size)
{
    std::vector<unsigned char> bytes(size);
    for (unsigned int i = 0; i < size; ++i)
        bytes[i] = static_cast<unsigned char>(i * 7);
    database.SetBlob(name, code, size, bytes.data());
}

void WriteSeeds(std::string const& folder)
{
    WriteSeed(folder, "empty", CDesktopDatabase());

    CDesktopDatabase marker;
    marker.SetLong(".", MakeFourCharCode("QRVL"), 1);
    WriteSeed(folder, "marker", marker);

    CDesktopDatabase mixed;
    mixed.SetBool("Applications", MakeFourCharCode("ICVO"), true);
    mixed.SetShort("Readme", MakeFourCharCode("icvt"), -1);
    mixed.SetLong(".", MakeFourCharCode("fwi0"), -5);
    AddPayload(mixed, "ab", MakeFourCharCode("Iloc"), 17);
    AddPayload(mixed, "ab", MakeFourCharCode("BKGD"), 0);
    mixed.SetBool(L"\u00e9t\u00e9 \u4e2d", MakeFourCharCode("dscl"), false);
    WriteSeed(folder, "mixed", mixed);

    CDesktopDatabase twenty;
    for (int i = 0; i < 20; ++i)
        AddPayload(twenty, ("r" + std::to_string(10 + i)).c_str(), MakeFourCharCode("Iloc"), 278);
    WriteSeed(folder, "twenty", twenty);

    CDesktopDatabase types;
    types.SetType(".", MakeFourCharCode("icvl"), MakeFourCharCode("icnv"));
    types.SetUnicodeString("ab", MakeFourCharCode("cmmt"), u"caf\u00e9 \"\U0001F600\" \xD800");
    types.SetComp("ab", MakeFourCharCode("lg1S"), 0xFEDCBA9876543210u);
    types.SetDate("ab", MakeFourCharCode("moDD"), 0xD5F1234500008000u);
    WriteSeed(folder, "types", types);

    // Finder-shaped: three levels of small nodes placed and numbered out of order, and one 4 KiB
    // leaf. Both hold records of every type.
    CDesktopDatabase mixedTypes;
    for (int i = 0; i < 17; ++i)
    {
        std::string const name = "n" + std::to_string(10 + i);
        switch (i % 4)
        {
        case 0:
            mixedTypes.SetType(name.c_str(), MakeFourCharCode("vstl"), MakeFourCharCode("clmv"));
            break;
        case 1:
            mixedTypes.SetUnicodeString(name.c_str(), MakeFourCharCode("cmmt"), u"x");
            break;
        case 2:
            mixedTypes.SetComp(name.c_str(), MakeFourCharCode("ph1S"), static_cast<uint64_t>(i) << 40);
            break;
        default:
            AddPayload(mixedTypes, name.c_str(), MakeFourCharCode("Iloc"), 16);
        }
    }
    CFinderFileBuilder deep(1);
    WriteBytesSeed(folder, "finder-deep",
                   deep.Build(deep.AddTree(CFinderFileBuilder::EncodeRecords(mixedTypes), 3, 3, 1)));
    CFinderFileBuilder wide(2);
    wide.minExponent = 12;
    WriteBytesSeed(folder, "finder-wide",
                   wide.Build(wide.AddTree(CFinderFileBuilder::EncodeRecords(mixedTypes), 1, 1, 17)));

    CDesktopDatabase many;
    for (unsigned int code = 0; code < 1500; ++code)
        many.SetBool("", code, code % 2 == 0);
    WriteSeed(folder, "many", many);
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    if (char const* folder = std::getenv("KILNPACK_FUZZ_SEED_DIR"))
    {
        WriteSeeds(folder);
        std::exit(0);
    }
    // The printer writes to the standard output; keep the fuzzer's log readable.
    if (std::freopen("/dev/null", "w", stdout) == nullptr)
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    std::istringstream in(std::string(reinterpret_cast<char const*>(data), size));
    CDesktopDatabase database;
    try
    {
        database.ReadFromStream(in);
        database.Print(stdout);
        database.BuildFileImage();
    }
    catch (char const*)
    {
        // A refused file: that is the expected outcome for most inputs.
    }
    return 0;
}
