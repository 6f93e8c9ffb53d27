// Pacing and fault decisions of the cable, without ptys and with a fake clock.
#include "line.h"

#include <gtest/gtest.h>

#include <numeric>
#include <random>

namespace {

using vnm::Clock;
using vnm::FaultInjector;
using vnm::FaultSettings;
using vnm::TokenBucket;
using namespace std::chrono_literals;

std::vector<std::uint8_t> pattern(std::size_t n)
{
    std::vector<std::uint8_t> v(n);
    std::mt19937 gen(1234);
    for (auto& b : v)
        b = static_cast<std::uint8_t>(gen());
    return v;
}

// Feeds `in` in pieces of the sizes `nextChunk` returns.
template <typename ChunkFn>
std::vector<std::uint8_t> run(FaultInjector& f, const std::vector<std::uint8_t>& in, ChunkFn nextChunk)
{
    std::vector<std::uint8_t> out;
    for (std::size_t pos = 0; pos < in.size();) {
        const std::size_t n = std::min(in.size() - pos, nextChunk());
        f.apply(in.data() + pos, n, out);
        pos += n;
    }
    return out;
}

TEST(TokenBucketTest, NeverGrantsMoreThanTheLineCarries)
{
    // 115200 8N1: 11520 bytes/s, 5 ms of credit at most.
    const auto t0 = Clock::now();
    TokenBucket bucket(11520.0, 57.6, t0);
    std::mt19937 gen(5);
    std::size_t granted = 0;
    auto t = t0;
    while (t - t0 < 2s) {
        t += std::chrono::microseconds(gen() % 3000);  // irregular wake-ups up to 3 ms late
        const std::size_t n = bucket.available(t);
        bucket.take(n);
        granted += n;
        const double seconds = std::chrono::duration<double>(t - t0).count();
        ASSERT_LE(static_cast<double>(granted), 57.6 + 11520.0 * seconds);
    }
    // Wake-ups were never later than the burst covers, so nothing was lost either.
    EXPECT_GE(static_cast<double>(granted), 11520.0 * 2 - 60);
}

TEST(TokenBucketTest, IdleLineBanksOnlyTheBurstAndTellsWhenMoreComes)
{
    const auto t0 = Clock::now();
    TokenBucket bucket(1000.0, 5.0, t0);  // one byte per millisecond
    EXPECT_EQ(bucket.available(t0 + 10s), 5u);
    bucket.take(5);
    EXPECT_EQ(bucket.available(t0 + 10s), 0u);
    const auto when = bucket.whenAvailable(3);
    EXPECT_GE(when, t0 + 10s + 3ms);
    EXPECT_LE(when, t0 + 10s + 3ms + 1us);
    EXPECT_EQ(bucket.available(when), 3u);

    TokenBucket unlimited(0, 1, t0);
    EXPECT_TRUE(unlimited.unlimited());
    EXPECT_GT(unlimited.available(t0), 1000000u);
}

TEST(FaultInjectorTest, SameSeedSameOutputHoweverChunked)
{
    FaultSettings s;
    s.bitErrorRate = 1e-3;
    s.dropRate = 2e-3;
    s.noiseRate = 2e-3;
    const auto in = pattern(50000);

    FaultInjector whole(s, 99, 0);
    const auto ref = run(whole, in, [] { return std::size_t{4096}; });
    FaultInjector bytewise(s, 99, 0);
    EXPECT_EQ(run(bytewise, in, [] { return std::size_t{1}; }), ref);
    std::mt19937 gen(3);
    FaultInjector ragged(s, 99, 0);
    EXPECT_EQ(run(ragged, in, [&] { return std::size_t{1 + gen() % 700}; }), ref);

    const auto& c = whole.counters();
    EXPECT_EQ(c.taken, in.size());
    EXPECT_GT(c.dropped, 0u);
    EXPECT_GT(c.inserted, 0u);
    EXPECT_GE(c.bitsFlipped, c.bytesCorrupted);
    EXPECT_GT(c.bytesCorrupted, 0u);
    EXPECT_EQ(ref.size(), in.size() - c.dropped + c.inserted);

    FaultInjector otherSeed(s, 100, 0);
    EXPECT_NE(run(otherSeed, in, [] { return std::size_t{4096}; }), ref);
    FaultInjector otherDirection(s, 99, 1);
    EXPECT_NE(run(otherDirection, in, [] { return std::size_t{4096}; }), ref);
}

TEST(FaultInjectorTest, ExtremeRatesAndOneShotFaults)
{
    const std::vector<std::uint8_t> in = {0x00, 0x0F, 0xA5, 0xFF, 0x10, 0x20};
    std::vector<std::uint8_t> out;

    FaultSettings allBits;
    allBits.bitErrorRate = 1;
    FaultInjector flipAll(allBits, 1, 0);
    flipAll.apply(in.data(), in.size(), out);
    EXPECT_EQ(out, (std::vector<std::uint8_t>{0xFF, 0xF0, 0x5A, 0x00, 0xEF, 0xDF}));
    EXPECT_EQ(flipAll.counters().bitsFlipped, 48u);

    FaultSettings allDrop;
    allDrop.dropRate = 1;
    FaultInjector dropAll(allDrop, 1, 0);
    out.clear();
    dropAll.apply(in.data(), in.size(), out);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(dropAll.counters().dropped, in.size());

    FaultSettings noise;
    noise.noiseRate = 1;
    FaultInjector noisy(noise, 1, 0);
    out.clear();
    noisy.apply(in.data(), in.size(), out);
    ASSERT_EQ(out.size(), 2 * in.size());
    for (std::size_t i = 0; i < in.size(); ++i)
        EXPECT_EQ(out[2 * i], in[i]);

    // Indices are 1-based among the bytes taken from the writer, before drops.
    FaultSettings once;
    once.dropAt = {2};
    once.corruptAt = {{3, 0x01}, {5, 0xF0}};
    FaultInjector oneShot(once, 1, 0);
    out.clear();
    oneShot.apply(in.data(), 3, out);
    oneShot.apply(in.data() + 3, in.size() - 3, out);
    EXPECT_EQ(out, (std::vector<std::uint8_t>{0x00, 0xA4, 0xFF, 0xE0, 0x20}));
    EXPECT_EQ(oneShot.counters().bytesCorrupted, 2u);
}

}  // namespace
