// Timing shared by the benchmark programs.
#pragma once

#include <windows.h>

#include <functional>

namespace bench {

// The best wall-clock time in seconds of Runs calls of Work.
inline double Seconds(const std::function<void()>& Work, int Runs)
{
    LARGE_INTEGER freq, a, b;
    QueryPerformanceFrequency(&freq);
    double best = 1e30;
    for (int i = 0; i < Runs; ++i) {
        QueryPerformanceCounter(&a);
        Work();
        QueryPerformanceCounter(&b);
        const double s = static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(freq.QuadPart);
        if (s < best)
            best = s;
    }
    return best;
}

}  // namespace bench
