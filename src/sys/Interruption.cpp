#include "sys/Interruption.h"

#include "io/FileDescriptor.h"
#include "io/FullTransfer.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <ctime>
#include <initializer_list>

namespace
{
volatile sig_atomic_t g_pendingSignal = 0;
volatile sig_atomic_t g_commandGroup = 0;

void NoteSignal(int signalNumber)
{
    if (g_pendingSignal == 0)
        g_pendingSignal = signalNumber;
    pid_t const group = static_cast<pid_t>(g_commandGroup);
    if (group > 0)
        kill(-group, signalNumber);
}
} // namespace

void InstallInterruptHandlers()
{
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP})
    {
        struct sigaction previous = {};
        if (sigaction(signalNumber, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
            continue;
        struct sigaction action = {};
        action.sa_handler = NoteSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0; // no SA_RESTART: a blocking wait returns so the caller can look
        sigaction(signalNumber, &action, nullptr);
    }
}

int GetPendingInterrupt()
{
    return static_cast<int>(g_pendingSignal);
}

void SetRunningCommandGroup(pid_t group)
{
    g_commandGroup = static_cast<sig_atomic_t>(group);
}

void PauseHereIfTestAsks(char const* phase)
{
    static bool paused = false;
    char const* wanted = std::getenv("KILNPACK_TEST_PAUSE_PHASE");
    char const* fifo = std::getenv("KILNPACK_TEST_PAUSE_FIFO");
    if (paused || !wanted || !fifo || std::strcmp(wanted, phase) != 0)
        return;
    paused = true;
    // The test is told, then this waits for the signal it sends. The flag is looked at in a loop
    // rather than with sigsuspend: with the compression's worker threads running, the signal may be
    // delivered to any thread, and only the flag is sure to show it.
    CFileDescriptor fd(open(fifo, O_WRONLY | O_CLOEXEC));
    if (!fd.IsOpen())
        return;
    char const ready = '!';
    bool const told = WriteFully(fd.Get(), &ready, 1);
    fd.Reset(); // a reader that reads to the end isn't kept waiting
    struct timespec const pause = {0, 1000000}; // 1 ms
    while (told && GetPendingInterrupt() == 0)
        nanosleep(&pause, nullptr);
}
