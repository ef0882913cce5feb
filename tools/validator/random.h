// Seeded choices for the validator's cases: the same seed gives the same
// cases on every platform, so a failure seen under Wine replays natively.
#pragma once

#include <cstdint>
#include <cstring>

namespace validator {

// SplitMix64: small, fast, and defined bit for bit (unlike the standard
// library's distributions, whose results differ between implementations).
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}

    uint64_t next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t bits32() { return uint32_t(next() >> 32); }
    // Uniform in 0..bound-1; bound must be positive.
    uint32_t below(uint32_t bound) { return uint32_t((uint64_t(bits32()) * bound) >> 32); }
    // Uniform in low..high, both included.
    int32_t between(int32_t low, int32_t high) {
        return int32_t(int64_t(low) + int64_t(below(uint32_t(int64_t(high) - low + 1))));
    }
    bool percent(uint32_t chance) { return below(100) < chance; }
    float uniform(float low, float high) {
        return low + (high - low) * float(bits32() >> 8) * (1.0f / 16777216.0f);
    }

private:
    uint64_t state_;
};

// The seed of case `index` of a named stream: independent of every other
// case, so any single case can be replayed on its own.
inline uint64_t caseSeed(uint64_t seed, const char* stream, uint64_t index) {
    uint64_t h = 1469598103934665603ull;  // FNV-1a over the stream name
    for (const char* p = stream; *p != '\0'; ++p) h = (h ^ uint8_t(*p)) * 1099511628211ull;
    Random mix(seed ^ h);
    mix.next();
    return mix.next() ^ (index * 0xD1B54A32D192ED03ull);
}

inline uint32_t floatBits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
}
inline float bitsFloat(uint32_t u) {
    float f;
    std::memcpy(&f, &u, 4);
    return f;
}

}  // namespace validator
