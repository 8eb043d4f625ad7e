#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// splitmix64: the same numbers on every platform and library, so a test's
// random inputs are the same on every run.
class Rng {
public:
    explicit Rng(uint64_t seed) : m_state(seed) {}
    uint64_t next() {
        uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // In [0, n); 0 for n == 0.
    size_t below(size_t n) { return n ? static_cast<size_t>(next() % n) : 0; }
    std::string bytes(size_t n) {
        std::string out(n, '\0');
        for (char& c : out)
            c = static_cast<char>(next() & 0xFF);
        return out;
    }

private:
    uint64_t m_state;
};
