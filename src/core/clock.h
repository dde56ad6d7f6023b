// The monotonic clock in seconds, for deadlines. Async-signal-safe.
#pragma once

#include <ctime>

inline double seconds_now()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}
