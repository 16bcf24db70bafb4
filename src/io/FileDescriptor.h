// An owned file descriptor that closes itself, so no early return or thrown error leaks one.
#pragma once

#include <utility>

class CFileDescriptor
{
public:
    CFileDescriptor() = default;
    explicit CFileDescriptor(int fd) : m_fd(fd) {}
    ~CFileDescriptor() { Reset(); }
    CFileDescriptor(CFileDescriptor&& other) noexcept : m_fd(other.Release()) {}
    CFileDescriptor& operator=(CFileDescriptor&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    CFileDescriptor(CFileDescriptor const&) = delete;
    CFileDescriptor& operator=(CFileDescriptor const&) = delete;

    int Get() const { return m_fd; }
    bool IsOpen() const { return m_fd >= 0; }
    // Hands the descriptor over; this object then owns nothing.
    int Release() { return std::exchange(m_fd, -1); }
    // Closes what is held (its result ignored) and takes `fd` instead.
    void Reset(int fd = -1);
    // Closes the descriptor and reports how: 0, or the errno value of a failed close (a write the
    // file system could not complete shows here). Nothing held is not an error.
    int Close();

private:
    int m_fd = -1;
};
