// Writes, reads back and prints the largest database the file format holds (75,400 records of
// the smallest encoding, 13 bytes each) and reports records per second for each step and the
// peak memory of the process.
#include "desktopdb/DesktopDatabase.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace
{
unsigned int const kRecordCount = 75400;

struct STiming
{
    double wallSeconds;
    double cpuSeconds; // this process only: meaningful on a busy machine too
};

double CpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

template <typename Step> STiming Measure(Step step)
{
    auto const start = std::chrono::steady_clock::now();
    double const cpuStart = CpuSeconds();
    step();
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
            CpuSeconds() - cpuStart};
}

void Report(char const* step, STiming timing)
{
    std::fprintf(stderr, "%-6s %8.1f ms wall %8.1f ms cpu  %10.0f records/s\n", step,
                 timing.wallSeconds * 1000, timing.cpuSeconds * 1000, kRecordCount / timing.wallSeconds);
}
} // namespace

int main(int argc, char** argv)
{
    std::string const path = argc > 1 ? argv[1] : "/tmp/kilnpack-bench.DS_Store";
    try
    {
        CDesktopDatabase source;
        for (unsigned int code = 0; code < kRecordCount; ++code)
            source.SetBool("", code, code % 2 == 0);
        Report("write", Measure([&] { source.WriteToDisk(path.c_str()); }));

        CDesktopDatabase copy;
        Report("read", Measure([&] { copy.ReadFromDisk(path.c_str()); }));
        if (copy.records.size() != kRecordCount)
        {
            std::fprintf(stderr, "read back %zu records, expected %u\n", copy.records.size(), kRecordCount);
            return 1;
        }

        // Print into /dev/null, as "--dump" would into a pipe, then restore the standard output.
        std::fflush(stdout);
        int const saved = dup(1);
        int const sink = open("/dev/null", O_WRONLY);
        dup2(sink, 1);
        STiming const printTiming = Measure(
            [&]
            {
                copy.Print(stdout);
                std::fflush(stdout);
            });
        dup2(saved, 1);
        close(sink);
        close(saved);
        Report("print", printTiming);
    }
    catch (char const* text)
    {
        std::fprintf(stderr, "Internal Error: '%s'\n", text);
        return 1;
    }
    unlink(path.c_str());

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::fprintf(stderr, "peak memory %.1f MB\n", usage.ru_maxrss / 1024.0);
    return 0;
}
