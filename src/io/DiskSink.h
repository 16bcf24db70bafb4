// A disk's bytes handed over in increasing order, each byte once. The volume writers produce a disk
// this way and the image writer (or a plain file) takes it, so the payload is read from its sources
// once and never staged in between.
#pragma once

#include "io/FileDescriptor.h"

#include <cstddef>
#include <cstdint>
#include <string>

class CDiskSink
{
public:
    virtual ~CDiskSink() = default;

    // The next `size` bytes of the disk. False with a reason (the sink stops taking bytes then).
    [[nodiscard]] virtual bool Write(void const* data, size_t size, std::string* error) = 0;
    // The next `size` bytes are zeros that hold nothing (free space): a sink may leave them out.
    [[nodiscard]] virtual bool Skip(uint64_t size, std::string* error) = 0;
    // The next `size` bytes are zeros that belong to the disk's content (an unused B-tree node, the
    // tail of a file's last block). Sinks that can take zeros without a buffer of them say so here;
    // the default hands them to Write in bounded pieces.
    [[nodiscard]] virtual bool WriteZeros(uint64_t size, std::string* error);
    // How many bytes have been handed over so far.
    virtual uint64_t GetPosition() const = 0;
};

// Writes the disk into an open file from byte `offset` on, with positioned writes; skipped ranges
// are not written, so they stay as they were (holes in a fresh sparse file).
class CFileDiskSink : public CDiskSink
{
public:
    CFileDiskSink(int fd, uint64_t offset) : m_fd(fd), m_offset(offset) {}

    bool Write(void const* data, size_t size, std::string* error) override;
    bool Skip(uint64_t size, std::string* error) override;
    uint64_t GetPosition() const override { return m_position; }

private:
    int m_fd;
    uint64_t m_offset;
    uint64_t m_position = 0;
};
