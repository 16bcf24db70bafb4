// The file calls that only some systems have, each behind one function with a portable fallback.
// Built with KILNPACK_PORTABLE_ONLY, only the fallbacks are compiled (the way CI checks them on Linux).
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

// Frees [offset, offset + size) of the file so that it reads as zeros, keeping the file's size.
// 0 on success, else an errno value; EOPNOTSUPP where no hole can be punched (the caller then
// writes zeros itself). Without a hole-punching call only a range that reaches to within 1 MiB of
// the end of the file is freed (by truncating and growing the file again).
int PunchFileHole(int fd, uint64_t offset, uint64_t size);

// Renames `from` to `to` unless something already exists at `to` (EEXIST then, and both stay as
// they were). 0 on success, else an errno value.
int RenameWithoutReplacing(std::string const& from, std::string const& to);

// open(2) for reading (`flags` adds to O_RDONLY) that leaves the file's access time alone where the
// system allows it (Linux, for the file's owner): reading every source of a large payload would
// otherwise dirty one inode per file. The descriptor, or -1 with errno set.
int OpenForReadingQuietly(std::string const& path, int flags);

// The file's modification time in whole seconds since 1970.
int64_t GetModificationTime(struct stat const& info);

// The same in nanoseconds since 1970, where the system keeps them (else whole seconds).
int64_t GetModificationNanoseconds(struct stat const& info);
