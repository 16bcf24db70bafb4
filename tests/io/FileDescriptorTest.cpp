// The descriptor owner and the whole-transfer calls: ownership moves, nothing leaks, ends are told apart
// from errors.
#include "io/FileDescriptor.h"
#include "io/FullTransfer.h"

#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

namespace
{
bool IsOpenDescriptor(int fd)
{
    return fcntl(fd, F_GETFD) != -1;
}
} // namespace

TEST(FileDescriptor, OwnershipMovesAndTheLastOwnerCloses)
{
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    int const raw = pipeEnds[0];
    {
        CFileDescriptor first(raw);
        CFileDescriptor second(std::move(first));
        EXPECT_FALSE(first.IsOpen());
        EXPECT_EQ(second.Get(), raw);
        CFileDescriptor third;
        third = std::move(second);
        EXPECT_TRUE(IsOpenDescriptor(raw));
        EXPECT_EQ(third.Get(), raw);
    }
    EXPECT_FALSE(IsOpenDescriptor(raw));

    CFileDescriptor writer(pipeEnds[1]);
    EXPECT_EQ(writer.Close(), 0);
    EXPECT_FALSE(IsOpenDescriptor(pipeEnds[1]));
    EXPECT_EQ(writer.Close(), 0); // nothing held any more
    EXPECT_EQ(CFileDescriptor(pipeEnds[1]).Close(), EBADF);
}

TEST(FullTransfer, PipeIsReadWholeAcrossPiecesAndItsEndIsNoError)
{
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    CFileDescriptor reader(pipeEnds[0]);
    CFileDescriptor writer(pipeEnds[1]);
    // More than a pipe holds at once, written in pieces while the reader waits: both sides move in parts.
    std::vector<uint8_t> sent(300000);
    for (size_t i = 0; i < sent.size(); ++i)
        sent[i] = uint8_t(i * 7);
    std::thread feeder([&]
    {
        for (size_t at = 0; at < sent.size(); at += 70000)
            EXPECT_TRUE(WriteFully(writer.Get(), sent.data() + at, std::min<size_t>(70000, sent.size() - at)));
        writer.Reset();
    });
    std::vector<uint8_t> received(sent.size());
    EXPECT_TRUE(ReadFully(reader.Get(), received.data(), received.size()));
    feeder.join();
    EXPECT_EQ(received, sent);

    uint8_t more;
    errno = EINVAL;
    EXPECT_FALSE(ReadFully(reader.Get(), &more, 1));
    EXPECT_EQ(errno, 0);
}

TEST(FullTransfer, PositionedCallsLeaveTheFilePositionAndReportErrors)
{
    CTempFolder directory;
    std::string const path = directory.WriteFile("data", "0123456789");
    CFileDescriptor file(open(path.c_str(), O_RDWR | O_CLOEXEC));
    ASSERT_TRUE(file.IsOpen());

    ASSERT_TRUE(WriteFullyAt(file.Get(), "abc", 3, 12)); // past the end: the gap reads as zeros
    char back[15];
    ASSERT_TRUE(ReadFullyAt(file.Get(), back, sizeof back, 0));
    EXPECT_EQ(std::string(back, sizeof back), std::string("0123456789\0\0abc", 15));
    EXPECT_EQ(lseek(file.Get(), 0, SEEK_CUR), 0);

    EXPECT_FALSE(ReadFullyAt(file.Get(), back, 4, 13));
    EXPECT_EQ(errno, 0);
    EXPECT_FALSE(WriteFullyAt(-1, "x", 1, 0));
    EXPECT_EQ(errno, EBADF);
}
