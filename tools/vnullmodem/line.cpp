#include "line.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vnm {

namespace {
constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();

enum FaultKind : unsigned { kBits = 1, kDrop = 2, kNoise = 3 };

std::mt19937_64 makeGen(std::uint64_t seed, unsigned direction, unsigned kind)
{
    std::seed_seq seq{static_cast<std::uint32_t>(seed), static_cast<std::uint32_t>(seed >> 32), direction, kind};
    return std::mt19937_64(seq);
}
}  // namespace

TokenBucket::TokenBucket(double bytesPerSecond, double burstBytes, Clock::time_point now)
    : rate_(bytesPerSecond), burst_(std::max(1.0, burstBytes)), tokens_(burst_), last_(now)
{
}

void TokenBucket::refill(Clock::time_point now)
{
    if (now <= last_)
        return;
    const double dt = std::chrono::duration<double>(now - last_).count();
    tokens_ = std::min(burst_, tokens_ + dt * rate_);
    last_ = now;
}

std::size_t TokenBucket::available(Clock::time_point now)
{
    if (unlimited())
        return std::numeric_limits<std::size_t>::max();
    refill(now);
    return static_cast<std::size_t>(tokens_);
}

void TokenBucket::take(std::size_t n)
{
    if (!unlimited())
        tokens_ -= static_cast<double>(n);
}

Clock::time_point TokenBucket::whenAvailable(std::size_t n) const
{
    const double want = std::min(burst_, static_cast<double>(n));
    if (unlimited() || tokens_ >= want)
        return last_;
    const auto wait = std::chrono::duration<double>((want - tokens_) / rate_);
    // Round up so the wake-up does not come a hair early and find nothing.
    return last_ + std::chrono::ceil<Clock::duration>(wait);
}

FaultInjector::FaultInjector(const FaultSettings& settings, std::uint64_t seed, unsigned direction)
    : settings_(settings),
      bitGen_(makeGen(seed, direction, kBits)),
      dropGen_(makeGen(seed, direction, kDrop)),
      noiseGen_(makeGen(seed, direction, kNoise)),
      dropAt_(settings.dropAt.begin(), settings.dropAt.end())
{
    nextBit_ = gap(bitGen_, settings_.bitErrorRate);
    nextDrop_ = gap(dropGen_, settings_.dropRate);
    nextNoise_ = gap(noiseGen_, settings_.noiseRate);
}

std::uint64_t FaultInjector::gap(std::mt19937_64& gen, double p)
{
    if (p <= 0)
        return kNever;
    if (p >= 1)
        return 0;
    // Geometric by inversion: one draw per event instead of one per byte or bit.
    const double u = (static_cast<double>(gen() >> 11) + 1.0) * 0x1.0p-53;  // (0, 1]
    const double g = std::floor(std::log(u) / std::log1p(-p));
    return g >= 1e18 ? kNever : static_cast<std::uint64_t>(g);
}

namespace {
std::uint64_t advance(std::uint64_t pos, std::uint64_t by)
{
    return (pos == kNever || by == kNever || kNever - pos <= by) ? kNever : pos + by + 1;
}
}  // namespace

void FaultInjector::apply(const std::uint8_t* in, std::size_t n, std::vector<std::uint8_t>& out)
{
    if (!settings_.any()) {
        out.insert(out.end(), in, in + n);
        counters_.taken += n;
        return;
    }
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint64_t index = counters_.taken++;  // 0-based position among taken bytes
        bool drop = dropAt_.count(index + 1) != 0;
        if (index == nextDrop_) {
            drop = true;
            nextDrop_ = advance(nextDrop_, gap(dropGen_, settings_.dropRate));
        }
        if (drop) {
            ++counters_.dropped;
            continue;
        }
        std::uint8_t byte = in[i];
        for (const auto& c : settings_.corruptAt)
            if (c.index == index + 1)
                byte ^= c.mask;

        // Bit errors and noise count positions in the stream that survived the drops.
        const std::uint64_t kept = index - counters_.dropped;
        const std::uint64_t firstBit = kept * 8;
        int flips = 0;
        while (nextBit_ != kNever && nextBit_ < firstBit + 8) {
            byte ^= static_cast<std::uint8_t>(1u << (nextBit_ - firstBit));
            ++flips;
            nextBit_ = advance(nextBit_, gap(bitGen_, settings_.bitErrorRate));
        }
        counters_.bitsFlipped += static_cast<std::uint64_t>(flips);
        if (byte != in[i])
            ++counters_.bytesCorrupted;
        out.push_back(byte);

        if (kept == nextNoise_) {
            out.push_back(static_cast<std::uint8_t>(noiseGen_() >> 56));
            ++counters_.inserted;
            nextNoise_ = advance(nextNoise_, gap(noiseGen_, settings_.noiseRate));
        }
    }
}

}  // namespace vnm
