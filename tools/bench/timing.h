// Clocks and medians shared by the benchmark programs. Every figure they print
// is a median of several rounds; the driver turns pairs of them into ratios.
#pragma once
#include <windows.h>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

inline double secondsNow() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

inline double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Seconds per call of `work`, repeated until at least `minimum` seconds went
// by, so short operations are not lost in the clock's resolution.
template <typename F>
double secondsPerCall(F work, double minimum = 0.004) {
    int calls = 0;
    double start = secondsNow(), elapsed = 0;
    do {
        work();
        ++calls;
        elapsed = secondsNow() - start;
    } while (elapsed < minimum);
    return elapsed / calls;
}

// One result line for the driver: {"part": ..., "case": ..., key: number...}.
inline void printRecord(const char* part, const std::string& name,
                        const std::vector<std::pair<std::string, double>>& values) {
    std::printf("{\"part\": \"%s\", \"case\": \"%s\"", part, name.c_str());
    for (const auto& v : values) std::printf(", \"%s\": %.9g", v.first.c_str(), v.second);
    std::printf("}\n");
    std::fflush(stdout);
}
