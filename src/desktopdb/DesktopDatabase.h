// The in-memory form of one Finder desktop database (.DS_Store file): records keyed by a
// file name and a four-character code, kept sorted, with the file writer, reader and printer.
// Fatal problems are thrown as plain message texts (char const*).
#pragma once

#include <cstdint>
#include <cstdio>
#include <iosfwd>
#include <list>
#include <map>
#include <string>
#include <vector>

// Four-character code as a number: the first character in the most significant byte.
constexpr unsigned int MakeFourCharCode(char const (&text)[5])
{
    return (static_cast<unsigned int>(static_cast<unsigned char>(text[0])) << 24) |
           (static_cast<unsigned int>(static_cast<unsigned char>(text[1])) << 16) |
           (static_cast<unsigned int>(static_cast<unsigned char>(text[2])) << 8) |
           static_cast<unsigned int>(static_cast<unsigned char>(text[3]));
}

// Big-endian 32-bit integers, the only way numbers enter or leave a database file.
void StreamWriteInt(std::ostream& out, int number);
char StreamReadChar(std::istream& in);
int StreamReadInt(std::istream& in);

// -1, 0 or 1 over UTF-16 units (each taken as its low 16 bits), as HFS+ orders file names: letters
// folded to lower case, ignorable characters skipped. The order of records in memory, in written
// files and in the "--dump" listing.
int UnicodeStringCompare(std::wstring const& a, std::wstring const& b);

class CDesktopDatabase
{
public:
    class CDatabaseKey
    {
    public:
        CDatabaseKey();
        CDatabaseKey(wchar_t const* name, unsigned int code);
        // name is UTF-8, stored as its UTF-16 units; bytes that are not UTF-8 become one unit each.
        CDatabaseKey(char const* name, unsigned int code);
        CDatabaseKey(CDatabaseKey const& other) = default;
        CDatabaseKey& operator=(CDatabaseKey const& other) = default;

        bool operator<(CDatabaseKey const& other) const;
        void Write(std::ostream& out) const;
        void Read(std::istream& in);
        void Print(std::FILE* out) const;

        std::wstring name;
        unsigned int code;
    };

    class CDatabaseValue
    {
    public:
        CDatabaseValue();
        CDatabaseValue(CDatabaseValue const& other);
        CDatabaseValue& operator=(CDatabaseValue const& other);
        ~CDatabaseValue();

        void FreeValue();
        void SetLongValue(long number);
        void SetShortValue(short number);
        void SetBoolValue(bool flag);
        void SetBlobValue(unsigned int size, void const* bytes);
        void SetTypeValue(unsigned int typeCode);
        // UTF-16 code units, kept big-endian in data (size is twice the unit count).
        void SetUnicodeStringValue(std::u16string const& units);
        void SetCompValue(uint64_t number);
        // 1/65536 s since 1904-01-01 00:00:00 UTC.
        void SetDateValue(uint64_t ticks);

        void Write(std::ostream& out) const;
        void Read(std::istream& in);
        void Print(std::FILE* out) const;

        unsigned int type;
        // bool, shor, long; the code of a type value.
        int value;
        // comp and dutc.
        uint64_t wideValue;
        // blob bytes; ustr units, big-endian.
        unsigned int size;
        unsigned char* data;
    };

    // Buddy allocator over the file's byte range, one free list per size exponent.
    class CFreeBlockList
    {
    public:
        CFreeBlockList();
        ~CFreeBlockList();
        CFreeBlockList(CFreeBlockList const&) = delete;
        CFreeBlockList& operator=(CFreeBlockList const&) = delete;

        unsigned int AllocateBlock(unsigned char exponent);
        unsigned int AllocateEndBlock(unsigned char exponent);
        void FreeBlock(unsigned char exponent, unsigned int position);
        static unsigned char GetBlockSize(unsigned int length);
        void Write(std::ostream& out) const;

        static constexpr int kListCount = 31;
        std::list<unsigned int> freeLists[kListCount];
        unsigned int highWaterMark;
    };

    // One B-tree node while the writer lays it out.
    class CBlock
    {
    public:
        explicit CBlock(bool leaf);
        CBlock(CBlock const& other) = default;
        ~CBlock() = default;

        void Add(std::string record);
        unsigned int GetByteLength() const;
        bool IsEmpty() const;
        void AllocateOnDisk(CFreeBlockList& allocator);
        void Write(std::ostream& out) const;

        bool leaf;
        unsigned int byteLength;
        std::vector<std::string> records;
        unsigned int blockAddress;
    };

    CDesktopDatabase();
    ~CDesktopDatabase();
    CDesktopDatabase(CDesktopDatabase const&) = delete;
    CDesktopDatabase& operator=(CDesktopDatabase const&) = delete;

    void SetBool(char const* name, unsigned int code, bool flag);
    void SetBool(wchar_t const* name, unsigned int code, bool flag);
    void SetShort(char const* name, unsigned int code, short number);
    void SetShort(wchar_t const* name, unsigned int code, short number);
    void SetLong(char const* name, unsigned int code, long number);
    void SetLong(wchar_t const* name, unsigned int code, long number);
    void SetBlob(char const* name, unsigned int code, unsigned int size, void const* bytes);
    void SetBlob(wchar_t const* name, unsigned int code, unsigned int size, void const* bytes);
    void SetType(char const* name, unsigned int code, unsigned int typeCode);
    void SetType(wchar_t const* name, unsigned int code, unsigned int typeCode);
    void SetUnicodeString(char const* name, unsigned int code, std::u16string const& units);
    void SetUnicodeString(wchar_t const* name, unsigned int code, std::u16string const& units);
    void SetComp(char const* name, unsigned int code, uint64_t number);
    void SetComp(wchar_t const* name, unsigned int code, uint64_t number);
    void SetDate(char const* name, unsigned int code, uint64_t ticks);
    void SetDate(wchar_t const* name, unsigned int code, uint64_t ticks);

    bool IsEmpty() const;
    // The "--dump" listing, one line per record in key order, onto `out`.
    void Print(std::FILE* out) const;
    // The complete file image that WriteToDisk stores.
    std::string BuildFileImage() const;
    void WriteToDisk(char const* path) const;
    void ReadFromDisk(char const* path);
    // Reads a database file from any seekable stream; ReadFromDisk opens the file and calls this.
    // Walks the B-tree from the root that the "DSDB" entry names, each node once.
    void ReadFromStream(std::istream& in);
    // Stores the records of one node image (the word before the node, the node's type word, its
    // count and records). blockCount is the file's number of blocks: an internal node's type word
    // names one of them. The child block numbers of an internal node, its type word first, are
    // added to children when given.
    void ReadDataBlock(std::istream& in, int blockCount, std::vector<unsigned int>* children = nullptr);
    void ReadDataItem(std::istream& in);

    std::map<CDatabaseKey, CDatabaseValue> records;
};
