// A progress line for the long in-process phases (volume writing, compression): percent done and
// throughput, redrawn in place on the standard error when it is a terminal, silent otherwise.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

class CProgressLine
{
public:
    explicit CProgressLine(std::string label);
    ~CProgressLine(); // clears the line if one was drawn
    CProgressLine(CProgressLine const&) = delete;
    CProgressLine& operator=(CProgressLine const&) = delete;

    // `done` and `total` in any unit; `bytesPerUnit` turns them into bytes for the rate.
    void Update(uint64_t done, uint64_t total, uint64_t bytesPerUnit = 1);

private:
    std::string m_label;
    bool m_enabled = false;
    bool m_drawn = false;
    int m_lastPercent = -1;
    std::chrono::steady_clock::time_point m_start;
    std::chrono::steady_clock::time_point m_lastDraw;
};

// The text of one progress line, e.g. "Compressing:  42% 118.3 MB/s".
std::string FormatProgressLine(std::string const& label, uint64_t done, uint64_t total, double bytesPerSecond);
