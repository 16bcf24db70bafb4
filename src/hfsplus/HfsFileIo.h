// Positioned reads and writes on the image file, zeroing that leaves holes, and streaming a file in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

bool WriteAllAt(int fd, void const* data, size_t size, uint64_t offset, std::string* error);
bool ReadAllAt(int fd, void* data, size_t size, uint64_t offset, std::string* error);

// Makes [offset, offset + size) read as zeros, by punching a hole where the file system can.
bool ZeroFileRange(int fd, uint64_t offset, uint64_t size, std::string* error);

// Grows the file to at least `size` bytes (never shrinks it).
bool EnsureFileSize(int fd, uint64_t size, std::string* error);

// Copies `size` bytes of the regular file at `path` to `offset` of `fd` in pieces, skipping blocks
// of zeros (the target range must already read as zeros). Fails if the file's size changed.
// `copied`, when set, is told the size of each piece read and stops the copy by giving false.
bool CopyFileDataAt(int fd, uint64_t offset, std::string const& path, uint64_t size, std::string* error,
                    std::function<bool(uint64_t bytes)> const& copied = {});
