// Measuring the nesting of a property list without recursion, then parsing it.
//
// Binary property list ("bplist00"), the parts read here: the last 32 bytes hold at 6 the size of
// an offset (1 to 8), 7 the size of an object reference, 8 the object count, 16 the top object,
// 24 the offset table's position (all big-endian). An object begins with a marker byte: high
// nibble 0xA array, 0xC set, 0xD dictionary; low nibble the count, 0xF when an integer object
// (0x1n, 2^n bytes) follows with it. Arrays and sets hold `count` references, dictionaries
// `count` key references then `count` value references. Objects may be shared, and libplist makes
// a copy of a shared object for each reference: forty levels that each refer twice to the next
// become 2^40 objects, so the objects the copies come to are counted as well.
#include "io/PropertyList.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

namespace
{
bool IsXmlNestingWithin(char const* text, size_t size, size_t maxDepth)
{
    auto const skipPast = [&](size_t from, char const* end)
    {
        char const* found = static_cast<char const*>(memmem(text + from, size - from, end, std::strlen(end)));
        return found ? size_t(found - text) + std::strlen(end) : size;
    };
    size_t depth = 0;
    for (size_t at = 0; at < size;)
    {
        char const* open = static_cast<char const*>(std::memchr(text + at, '<', size - at));
        if (!open)
            break;
        at = size_t(open - text) + 1;
        if (at < size && text[at] == '!' && size - at >= 3 && std::memcmp(text + at, "!--", 3) == 0)
            at = skipPast(at, "-->");
        else if (at < size && text[at] == '!' && size - at >= 8 && std::memcmp(text + at, "![CDATA[", 8) == 0)
            at = skipPast(at, "]]>");
        else if (at < size && (text[at] == '!' || text[at] == '?'))
            at = skipPast(at, ">");
        else if (at < size && text[at] == '/')
        {
            depth -= depth > 0;
            at = skipPast(at, ">");
        }
        else
        {
            size_t const end = skipPast(at, ">");
            if (end <= size && end >= 2 && text[end - 2] == '/' && text[end - 1] == '>')
                continue; // <dict/>
            if (++depth > maxDepth)
                return false;
            at = end;
        }
    }
    return true;
}

uint64_t ReadBig(uint8_t const* p, size_t length)
{
    uint64_t value = 0;
    for (size_t i = 0; i < length; ++i)
        value = value << 8 | p[i];
    return value;
}

bool IsBinaryNestingWithin(uint8_t const* bytes, size_t size, size_t maxDepth, uint64_t maxObjects)
{
    if (size < 8 + 32)
        return true; // too short to be one: libplist refuses it
    uint8_t const* trailer = bytes + size - 32;
    size_t const offsetSize = trailer[6];
    size_t const refSize = trailer[7];
    uint64_t const count = ReadBig(trailer + 8, 8);
    uint64_t const top = ReadBig(trailer + 16, 8);
    uint64_t const table = ReadBig(trailer + 24, 8);
    if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8 || table > size - 32 ||
        count > (size - 32 - table) / offsetSize || top >= count)
        return true; // not a list libplist reads either
    // Each object's children, found in the object itself; false when it can't be read.
    auto const children = [&](uint64_t object, uint64_t* first, uint64_t* number, bool* container)
    {
        uint64_t const at = ReadBig(bytes + table + object * offsetSize, offsetSize);
        if (at >= size - 32)
            return false;
        uint8_t const marker = bytes[at];
        uint8_t const kind = marker >> 4;
        *number = 0;
        *container = kind == 0xA || kind == 0xC || kind == 0xD;
        if (!*container)
            return true;
        uint64_t n = marker & 0x0F;
        uint64_t start = at + 1;
        if (n == 0x0F)
        {
            if (start >= size - 32 || (bytes[start] >> 4) != 0x1 || (bytes[start] & 0x0F) > 3)
                return false;
            size_t const length = size_t(1) << (bytes[start] & 0x0F);
            if (start + 1 + length > size - 32)
                return false;
            n = ReadBig(bytes + start + 1, length);
            start += 1 + length;
        }
        if (kind == 0xD)
            n *= 2;
        if (n > (size - 32 - start) / refSize)
            return false;
        *first = start;
        *number = n;
        return true;
    };
    // Depth-first from the top object with a stack of its own; an object met again while it is on
    // the stack is a loop. A shared object is walked once: its height (levels from it down) is kept.
    enum : uint8_t
    {
        kUnseen,
        kOnStack,
        kDone
    };
    std::vector<uint8_t> state(size_t(count), kUnseen);
    std::vector<uint16_t> height(size_t(count), 0);
    // Objects as libplist will hold them, a shared one once for each reference to it.
    std::vector<uint64_t> expanded(size_t(count), 1);
    struct CFrame
    {
        uint64_t object, first, number, next;
        size_t tallestChild;
        uint64_t objects; // of the tree below, this one included
    };
    std::vector<CFrame> stack;
    uint64_t first = 0, number = 0;
    bool container = false;
    if (!children(top, &first, &number, &container))
        return true;
    stack.push_back({top, first, number, 0, 0, 1});
    state[size_t(top)] = kOnStack;
    while (!stack.empty())
    {
        CFrame& frame = stack.back();
        if (frame.next == frame.number)
        {
            size_t const tall = frame.tallestChild + 1;
            uint64_t const objects = frame.objects;
            state[size_t(frame.object)] = kDone;
            height[size_t(frame.object)] = uint16_t(tall);
            expanded[size_t(frame.object)] = objects;
            stack.pop_back();
            if (!stack.empty())
            {
                stack.back().tallestChild = std::max(stack.back().tallestChild, tall);
                stack.back().objects += objects;
                if (stack.back().objects > maxObjects)
                    return false;
            }
            continue;
        }
        uint64_t const child = ReadBig(bytes + frame.first + frame.next * refSize, refSize);
        ++frame.next;
        if (child >= count)
            return true; // a reference libplist refuses
        if (state[size_t(child)] == kOnStack)
            return false;
        if (state[size_t(child)] == kDone)
        {
            if (stack.size() + height[size_t(child)] > maxDepth)
                return false;
            frame.tallestChild = std::max<size_t>(frame.tallestChild, height[size_t(child)]);
            frame.objects += expanded[size_t(child)];
            if (frame.objects > maxObjects)
                return false;
            continue;
        }
        if (!children(child, &first, &number, &container))
            return true;
        if (container && stack.size() + 1 > maxDepth)
            return false;
        if (number == 0)
        {
            // A value, or an empty array or dictionary: a level of its own only in the latter case.
            state[size_t(child)] = kDone;
            height[size_t(child)] = container ? 1 : 0;
            frame.tallestChild = std::max<size_t>(frame.tallestChild, height[size_t(child)]);
            frame.objects += 1;
            if (frame.objects > maxObjects)
                return false;
            continue;
        }
        state[size_t(child)] = kOnStack;
        stack.push_back({child, first, number, 0, 0, 1});
    }
    return true;
}
} // namespace

bool IsPlistNestingWithin(void const* data, size_t size, size_t maxDepth)
{
    auto const* bytes = static_cast<uint8_t const*>(data);
    if (size >= 8 && std::memcmp(bytes, "bplist00", 8) == 0)
        return IsBinaryNestingWithin(bytes, size, maxDepth, kMaxPlistObjects);
    return IsXmlNestingWithin(static_cast<char const*>(data), size, maxDepth);
}

plist_t ParsePropertyList(void const* data, size_t size)
{
    if (size == 0 || size > UINT32_MAX || !IsPlistNestingWithin(data, size))
        return nullptr;
    plist_t root = nullptr;
    plist_from_memory(static_cast<char const*>(data), uint32_t(size), &root);
    return root;
}
