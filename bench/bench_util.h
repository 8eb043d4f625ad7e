#pragma once

// Small timing helpers shared by the benchmark programs.

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/corpus.h"
#include "utility/File.h"
#include "utility/text.h"

namespace bench {

using Clock = std::chrono::steady_clock;

inline double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

inline double ms_since(Clock::time_point start) {
    return ms(Clock::now() - start);
}

inline double median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// A memory figure of this process from /proc/self/status ("VmHWM": peak
// resident, "VmRSS": resident now), in MB; 0 where there is none.
inline double memoryMb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(status, line))
        if (line.compare(0, key.size(), key) == 0)
            return std::atof(line.c_str() + key.size()) / 1024.0;
    return 0;
}

// The largest sound corpus book whose name ends in `extension`, "" when there is none.
inline std::string largest_corpus_book(const char* extension) {
    std::string best;
    long best_size = -1;
    for (const tf::File& f : tf::File(tf::String(corpus_path(""))).list()) {
        std::string path = f.getPath().str();
        std::string name = f.getName().str();
        if (!tf::endsWith(path, extension) || tf::beginsWith(name, "broken-made-") || f.getSize() <= best_size)
            continue;
        best_size = f.getSize();
        best = path;
    }
    return best;
}

} // namespace bench
