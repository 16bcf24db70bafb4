// The one table of the configuration's elements and their attributes, with what values each takes.
// Every element the walk meets is checked against it, so that a typo draws a warning instead of
// being ignored without a word.
#pragma once

#include "config/XmlTree.h"

#include <vector>

enum class EAttributeKind
{
    Text,    // any text
    Integer, // read like C's %d; a malformed value draws the getter's own warning
    Boolean, // true/false, yes/no, 1/0; a malformed value draws the getter's own warning
    Word,    // one of `values`, letter case ignored
};

struct CKnownAttribute
{
    char const* element;
    char const* attribute;
    EAttributeKind kind;
    std::vector<char const*> values; // Word only
    // The reader of the attribute reports a value outside the set itself, with its own message.
    bool valueCheckedByReader;
};

// The whole table, one row per attribute of each element.
std::vector<CKnownAttribute> const& GetKnownAttributes();

// Warns about each attribute of the element that the table doesn't list for it, and each Word value
// outside its set. Elements the table doesn't know at all are left to the walk's own warning.
void CheckElementAttributes(CXmlNode const* node);

// The same for the element and every element below it.
void CheckTreeAttributes(CXmlTree const* tree);
