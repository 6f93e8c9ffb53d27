// The parts of the virtual null-modem cable that decide what happens to bytes:
// how many the line may carry now, and which faults hit them. No I/O here, so
// both can be tested with a fake clock and arbitrary chunking.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <random>
#include <algorithm>
#include <set>
#include <vector>

namespace vnm {

using Clock = std::chrono::steady_clock;

// Byte budget of one direction. Credit grows continuously at `bytesPerSecond`
// and is capped at `burstBytes`, so an idle line does not bank more than a few
// milliseconds of traffic. A rate of 0 means unlimited.
class TokenBucket {
public:
    TokenBucket(double bytesPerSecond, double burstBytes, Clock::time_point now);

    bool unlimited() const { return rate_ <= 0; }
    // Whole bytes that may be carried at `now`.
    std::size_t available(Clock::time_point now);
    void take(std::size_t n);
    // The writer had nothing more: a real line that falls idle banks no time,
    // its next byte leaves one byte time after it is written.
    void idle() { tokens_ = std::min(tokens_, 1.0); }
    // Earliest time at which `n` bytes (capped at the burst) will be available.
    Clock::time_point whenAvailable(std::size_t n) const;

private:
    void refill(Clock::time_point now);

    double rate_;
    double burst_;
    double tokens_;
    Clock::time_point last_;
};

// Faults of one direction. Rates are probabilities: per bit for `bitErrorRate`,
// per byte taken from the writer for `dropRate` and `noiseRate`.
struct FaultSettings {
    double bitErrorRate = 0;
    double dropRate = 0;
    double noiseRate = 0;
    // One-shot faults by 1-based index of the byte taken from the writer.
    std::vector<std::uint64_t> dropAt;
    struct Corruption {
        std::uint64_t index;
        std::uint8_t mask;
    };
    std::vector<Corruption> corruptAt;

    bool any() const
    {
        return bitErrorRate > 0 || dropRate > 0 || noiseRate > 0 || !dropAt.empty() || !corruptAt.empty();
    }
};

struct FaultCounters {
    std::uint64_t taken = 0;         // bytes taken from the writer
    std::uint64_t dropped = 0;       // of those, never carried
    std::uint64_t bitsFlipped = 0;
    std::uint64_t bytesCorrupted = 0;  // bytes with at least one flipped bit
    std::uint64_t inserted = 0;      // noise bytes added
};

// Applies the faults to the byte stream of one direction. Every random choice
// is drawn from its own generator (std::mt19937_64 seeded with {seed, direction,
// fault kind}) and counted in bytes or bits of the stream, never in time or
// read calls, so a seed gives the same output however the bytes were chunked.
class FaultInjector {
public:
    FaultInjector(const FaultSettings& settings, std::uint64_t seed, unsigned direction);

    // Appends what the line delivers for `in` to `out`.
    void apply(const std::uint8_t* in, std::size_t n, std::vector<std::uint8_t>& out);
    const FaultCounters& counters() const { return counters_; }

private:
    // Distance to the next event of probability p per trial (0 = the very next).
    std::uint64_t gap(std::mt19937_64& gen, double p);

    FaultSettings settings_;
    std::mt19937_64 bitGen_, dropGen_, noiseGen_;
    // Absolute positions of the next random events.
    std::uint64_t nextBit_, nextDrop_, nextNoise_;
    std::set<std::uint64_t> dropAt_;
    FaultCounters counters_;
};

}  // namespace vnm
