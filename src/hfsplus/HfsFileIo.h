// Positioned reads and writes on the image file, zeroing that leaves holes, and gathering small writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

bool WriteAllAt(int fd, void const* data, size_t size, uint64_t offset, std::string* error);
bool ReadAllAt(int fd, void* data, size_t size, uint64_t offset, std::string* error);

// Makes [offset, offset + size) read as zeros, by punching a hole where the file system can.
bool ZeroFileRange(int fd, uint64_t offset, uint64_t size, std::string* error);

// Grows the file to at least `size` bytes (never shrinks it).
bool EnsureFileSize(int fd, uint64_t size, std::string* error);

// Gathers positioned writes that follow one another on the image into one write: many small files
// laid out block after block would otherwise cost a system call each. A gap shorter than `maxGap`
// between two writes is filled with zeros (it must read as zeros already, like the tail of a file's
// last block); a longer gap, a full buffer or Flush() writes what was gathered.
class CGatheredWriter
{
public:
    CGatheredWriter(int fd, size_t maxGap);
    CGatheredWriter(CGatheredWriter const&) = delete;
    CGatheredWriter& operator=(CGatheredWriter const&) = delete;

    bool WriteAt(void const* data, size_t size, uint64_t offset, std::string* error);
    bool Flush(std::string* error);

private:
    int m_fd;
    size_t m_maxGap;
    uint64_t m_start = 0;
    std::vector<uint8_t> m_pending;
};
