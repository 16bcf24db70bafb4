#include "sys/ProgressLine.h"

#include <cstdio>
#include <unistd.h>

namespace
{
// Redrawing more often than this only costs time on a slow terminal.
constexpr std::chrono::milliseconds kRedrawInterval(200);

// Whole percent, without overflow for any total.
int ComputePercent(uint64_t done, uint64_t total)
{
    if (total == 0 || done >= total)
        return 100;
    return static_cast<int>(static_cast<long double>(done) * 100 / static_cast<long double>(total));
}
} // namespace

std::string FormatProgressLine(std::string const& label, uint64_t done, uint64_t total, double bytesPerSecond)
{
    int const percent = ComputePercent(done, total);
    char text[160];
    std::snprintf(text, sizeof text, "%s: %3d%% %.1f MB/s", label.c_str(), percent,
                  bytesPerSecond / (1024.0 * 1024.0));
    return text;
}

CProgressLine::CProgressLine(std::string label)
    : m_label(std::move(label)), m_enabled(isatty(STDERR_FILENO) == 1), m_start(std::chrono::steady_clock::now())
{
}

CProgressLine::~CProgressLine()
{
    if (m_drawn)
    {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
}

void CProgressLine::Update(uint64_t done, uint64_t total, uint64_t bytesPerUnit)
{
    if (!m_enabled)
        return;
    auto const now = std::chrono::steady_clock::now();
    int const percent = ComputePercent(done, total);
    if (m_drawn && percent == m_lastPercent && now - m_lastDraw < kRedrawInterval)
        return;
    double const seconds = std::chrono::duration<double>(now - m_start).count();
    double const rate = seconds > 0 ? static_cast<double>(done * bytesPerUnit) / seconds : 0.0;
    std::fprintf(stderr, "\r%s\033[K", FormatProgressLine(m_label, done, total, rate).c_str());
    std::fflush(stderr);
    m_drawn = true;
    m_lastPercent = percent;
    m_lastDraw = now;
}
