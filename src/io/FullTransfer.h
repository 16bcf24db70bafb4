// Reads and writes that move every byte asked for, resuming after partial transfers and signals.
// Each returns true when all `size` bytes moved. On false, errno says why: the call's own error, or
// 0 when a read met the end of the file or a write took no byte.
#pragma once

#include <cstddef>
#include <cstdint>

bool ReadFully(int fd, void* data, size_t size);
bool WriteFully(int fd, void const* data, size_t size);
// The same at a file offset (pread/pwrite): the descriptor's own position is left alone.
bool ReadFullyAt(int fd, void* data, size_t size, uint64_t offset);
bool WriteFullyAt(int fd, void const* data, size_t size, uint64_t offset);
