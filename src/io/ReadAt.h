// Reading `size` bytes at `offset` of something (an image file, a disk inside it, a volume inside
// that): the one shape every reader here is given its bytes through. False with the reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

using CReadAt = std::function<bool(uint64_t offset, uint8_t* data, size_t size, std::string* error)>;
