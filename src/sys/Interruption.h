// Stopping a build on SIGINT, SIGTERM or SIGHUP: the signal is noted, handed on to the command that
// runs at the time, and polled by the long phases so that they stop and the build cleans up.
#pragma once

#include <sys/types.h>

// Catches the three signals (a signal ignored at start, as under nohup, stays ignored).
void InstallInterruptHandlers();

// The first signal caught, or 0.
int GetPendingInterrupt();

// The process group of the external command that runs now (0: none). A signal caught while it
// runs is sent on to the whole group, so the command and its children stop too.
void SetRunningCommandGroup(pid_t group);

// For tests that stop a build in a given phase ("volume", "compress") without depending on timing:
// when KILNPACK_TEST_PAUSE_PHASE names the phase, the first call writes one byte to the FIFO named by
// KILNPACK_TEST_PAUSE_FIFO and then waits until one of the three signals arrives. Does nothing
// otherwise.
void PauseHereIfTestAsks(char const* phase);
