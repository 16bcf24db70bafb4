// Parsing a property list (XML or binary) from an untrusted source with libplist. libplist parses,
// copies and frees nested arrays and dictionaries by recursion, so a list nested some hundred
// thousand levels deep overflows the stack: the nesting is measured first, by a cheap scan that
// recurses nowhere, and a list deeper than any real one is refused before libplist sees it.
#pragma once

#include <plist/plist.h>

#include <cstddef>

// Far deeper than the lists kilnpack reads (an Info.plist, an image's, a view's: under ten levels).
constexpr size_t kMaxPlistNesting = 256;
// The most objects a binary list may come to once libplist copies each shared object for every
// reference to it.
constexpr uint64_t kMaxPlistObjects = uint64_t(1) << 22;

// True when the arrays and dictionaries of the list (binary when it begins with "bplist00", else
// XML, where every element counts) nest at most `maxDepth` levels. A binary list whose objects
// refer to each other in a loop counts as too deep, one that comes to more than kMaxPlistObjects
// objects as too large.
bool IsPlistNestingWithin(void const* data, size_t size, size_t maxDepth = kMaxPlistNesting);

// The parsed list, or null when it isn't one or nests too deep; the caller frees it (plist_free).
plist_t ParsePropertyList(void const* data, size_t size);
