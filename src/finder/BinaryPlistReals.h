// Binary property lists with every real stored in eight bytes, as the Finder writes its view
// settings: libplist stores a real that a float holds exactly in four.
#pragma once

#include <string>
#include <vector>

// Rewrites a binary property list so that each 4-byte real becomes the same value as an 8-byte
// double into `wide`; every other object is copied unchanged and the offset table is rebuilt. Fails,
// with the reason in `error`, when the bytes are not a binary property list.
[[nodiscard]] bool WidenBinaryPlistReals(std::vector<unsigned char> const& bytes,
                                         std::vector<unsigned char>* wide, std::string* error);
