// Mac dates: seconds since 1904-01-01, as HFS+, alias records and the desktop database's dates count
// them. The HFS+ volume header's creation date is local time; catalog dates are GMT.
#pragma once

#include "io/SourceDateEpoch.h"

#include <cstdint>
#include <ctime>

constexpr int64_t kSecondsFrom1904To1970 = 2082844800;

inline uint32_t ConvertToMacTime(int64_t unixSeconds)
{
    int64_t mac = unixSeconds + kSecondsFrom1904To1970;
    return mac < 0 ? 0u : mac > 0xFFFFFFFFll ? 0xFFFFFFFFu : static_cast<uint32_t>(mac);
}

inline uint32_t GetMacLocalTimeNow()
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return ConvertToMacTime(static_cast<int64_t>(now) + local.tm_gmtoff);
}

// In a reproducible build (SOURCE_DATE_EPOCH set) the one date that every date of the image takes,
// the same in every time zone; 0 otherwise.
inline uint32_t GetReproducibleMacTime()
{
    int64_t epoch = 0;
    return GetSourceDateEpoch(&epoch) ? ConvertToMacTime(epoch) : 0u;
}

// The volume's creation date: the reproducible date when there is one, else local time now.
inline uint32_t GetVolumeCreateDateNow()
{
    uint32_t const fixed = GetReproducibleMacTime();
    return fixed ? fixed : GetMacLocalTimeNow();
}

// The local time of a GMT moment, and back, with the offset in force at that moment.
inline int64_t GetLocalOffsetAt(int64_t unixSeconds)
{
    std::time_t moment = static_cast<std::time_t>(unixSeconds);
    std::tm local{};
    localtime_r(&moment, &local);
    return local.tm_gmtoff;
}

inline uint32_t ConvertGmtMacTimeToLocal(uint32_t gmt)
{
    int64_t unixSeconds = int64_t(gmt) - kSecondsFrom1904To1970;
    return ConvertToMacTime(unixSeconds + GetLocalOffsetAt(unixSeconds));
}

inline uint32_t ConvertLocalMacTimeToGmt(uint32_t local)
{
    int64_t unixSeconds = int64_t(local) - kSecondsFrom1904To1970;
    return ConvertToMacTime(unixSeconds - GetLocalOffsetAt(unixSeconds));
}
