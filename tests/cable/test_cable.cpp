// The cable as a program: real ptys opened through its links, like the serial
// layer opens COM1.
#include "cable_process.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <cstdio>
#include <algorithm>
#include <poll.h>
#include <random>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using SteadyClock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr auto kDeadline = 20s;  // only reached when something is broken

Bytes randomBytes(std::size_t n, unsigned seed)
{
    Bytes v(n);
    std::mt19937 gen(seed);
    for (auto& b : v)
        b = static_cast<std::uint8_t>(gen());
    return v;
}

int msLeft(SteadyClock::time_point deadline)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
    return ms <= 0 ? 0 : static_cast<int>(ms) + 1;
}

// One end of the cable as a program sees it: a raw tty, non-blocking.
class Tty {
public:
    explicit Tty(const std::string& path)
    {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0)
            return;
        termios t{};
        ::tcgetattr(fd_, &t);
        cfmakeraw(&t);
        ::tcsetattr(fd_, TCSANOW, &t);
    }
    ~Tty() { close(); }
    Tty(const Tty&) = delete;
    Tty& operator=(const Tty&) = delete;

    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    void close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

    bool writeAll(const Bytes& data, SteadyClock::time_point deadline)
    {
        for (std::size_t done = 0; done < data.size();) {
            const ssize_t n = ::write(fd_, data.data() + done, data.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN)
                return false;
            pollfd p{fd_, POLLOUT, 0};
            if (::poll(&p, 1, msLeft(deadline)) <= 0)
                return false;
        }
        return true;
    }

    // Reads until `n` bytes came, the line ended (hang-up) or the deadline passed.
    Bytes read(std::size_t n, SteadyClock::time_point deadline, bool* ended = nullptr)
    {
        Bytes got;
        if (ended)
            *ended = false;
        while (got.size() < n) {
            std::uint8_t buf[4096];
            const ssize_t r = ::read(fd_, buf, std::min(sizeof buf, n - got.size()));
            if (r > 0) {
                got.insert(got.end(), buf, buf + r);
                continue;
            }
            if (r == 0 || errno != EAGAIN) {
                if (ended)
                    *ended = true;
                break;
            }
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, msLeft(deadline)) <= 0)
                break;
        }
        return got;
    }

private:
    int fd_ = -1;
};

// Writes `ab` into `a` and `ba` into `b` at the same time and reads both sides
// until as many bytes as were sent (or as given) arrived.
void exchange(Tty& a, Tty& b, const Bytes& ab, const Bytes& ba, Bytes& atB, Bytes& atA,
              std::optional<std::size_t> wantAtB = {}, std::optional<std::size_t> wantAtA = {})
{
    const auto deadline = SteadyClock::now() + kDeadline;
    const std::size_t needB = wantAtB.value_or(ab.size()), needA = wantAtA.value_or(ba.size());
    std::size_t sentAB = 0, sentBA = 0;
    while ((atB.size() < needB || atA.size() < needA) && SteadyClock::now() < deadline) {
        pollfd p[2] = {{a.fd(), POLLIN, 0}, {b.fd(), POLLIN, 0}};
        if (sentAB < ab.size())
            p[0].events |= POLLOUT;
        if (sentBA < ba.size())
            p[1].events |= POLLOUT;
        if (::poll(p, 2, msLeft(deadline)) <= 0)
            break;
        auto pumpOne = [](pollfd& pf, const Bytes& out, std::size_t& sent, Bytes& in) {
            if ((pf.revents & POLLOUT) && sent < out.size()) {
                const ssize_t n = ::write(pf.fd, out.data() + sent, std::min<std::size_t>(out.size() - sent, 4096));
                if (n > 0)
                    sent += static_cast<std::size_t>(n);
            }
            if (pf.revents & POLLIN) {
                std::uint8_t buf[4096];
                const ssize_t n = ::read(pf.fd, buf, sizeof buf);
                if (n > 0)
                    in.insert(in.end(), buf, buf + n);
            }
        };
        pumpOne(p[0], ab, sentAB, atA);
        pumpOne(p[1], ba, sentBA, atB);
    }
}

class CableTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/vnm-test-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        root_ = tmpl;
        fs::create_directory(root_ / "a");
        fs::create_directory(root_ / "b");
        linkA_ = (root_ / "a" / "COM1").string();
        linkB_ = (root_ / "b" / "COM1").string();
    }
    void TearDown() override
    {
        cable_.stop();
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    void startCable(std::vector<std::string> args)
    {
        args.insert(args.end(), {"--link-a", linkA_, "--link-b", linkB_});
        ASSERT_TRUE(cable_.start(VNULLMODEM_EXE, args)) << cable_.error();
    }

    // Waits until the cable has taken `taken` bytes from A and delivered all of
    // them, and B has read as many as it delivered.
    void drainAtoB(Tty& b, std::uint64_t taken, Bytes& atB)
    {
        const auto deadline = SteadyClock::now() + kDeadline;
        for (;;) {
            const auto more = b.read(1 << 20, SteadyClock::now() + 20ms);
            atB.insert(atB.end(), more.begin(), more.end());
            const auto stats = cable_.queryStats();
            ASSERT_TRUE(stats);
            const auto& ab = stats->at("A->B");
            if (ab.at("taken") == taken && ab.at("queued") == 0 && ab.at("carried") == atB.size())
                return;
            ASSERT_LT(SteadyClock::now(), deadline) << "A->B never settled";
        }
    }

    fs::path root_;
    std::string linkA_, linkB_;
    vnm::CableProcess cable_;
};

TEST_F(CableTest, CarriesBytesIntactAndInOrderBothWaysAtOnce)
{
    startCable({"--baud", "0"});
    EXPECT_EQ(fs::read_symlink(linkA_).string(), cable_.a().slave);
    EXPECT_EQ(fs::read_symlink(linkB_).string(), cable_.b().slave);
    Tty a(linkA_), b(linkB_);
    ASSERT_TRUE(a.ok() && b.ok());

    const Bytes ab = randomBytes(64 * 1024, 1), ba = randomBytes(64 * 1024, 2);
    Bytes atB, atA;
    exchange(a, b, ab, ba, atB, atA);
    EXPECT_EQ(atB, ab);
    EXPECT_EQ(atA, ba);
}

// Prints what the line achieves; the speed itself is judged by benchmarks.
TEST_F(CableTest, PrintsMeasuredRate)
{
    for (const auto& [baud, size] : {std::pair{"115200", 8 * 1024}, std::pair{"0", 1024 * 1024}}) {
        startCable({"--baud", baud});
        Tty a(linkA_), b(linkB_);
        ASSERT_TRUE(a.ok() && b.ok());
        const Bytes data = randomBytes(static_cast<std::size_t>(size), 3);
        Bytes atB, none;
        const auto t0 = SteadyClock::now();
        exchange(a, b, data, {}, atB, none);
        const double seconds = std::chrono::duration<double>(SteadyClock::now() - t0).count();
        EXPECT_EQ(atB, data);
        const double rate = static_cast<double>(atB.size()) / seconds;
        std::printf("[ rate     ] --baud %s: %zu bytes in %.3f s = %.0f bytes/s", baud, atB.size(), seconds, rate);
        if (std::strcmp(baud, "0") != 0)
            std::printf(" (%.1f%% of %.0f)", 100.0 * rate / (std::atof(baud) / 10), std::atof(baud) / 10);
        std::printf("\n");
        a.close();
        b.close();
        EXPECT_EQ(cable_.stop(), 0);
    }
}

// The serial layer reports the driver's output queue as BytesUnsent. On a
// pty slave this kernel keeps TIOCOUTQ at 0 (the written bytes sit in the
// master's input instead); what the writer does feel is write() holding back
// once those buffers are full, and that must follow the line speed.
TEST_F(CableTest, WriterIsHeldBackToLineSpeed)
{
    constexpr double kRate = 3840;  // 38400 8N1
    startCable({"--baud", "38400"});
    Tty a(linkA_), b(linkB_);
    ASSERT_TRUE(a.ok() && b.ok());

    const Bytes chunk = randomBytes(1024, 4);
    std::size_t written = 0;
    int outqMin = INT32_MAX, outqMax = INT32_MIN;
    auto sampleOutq = [&] {
        int q = -1;
        if (::ioctl(a.fd(), TIOCOUTQ, &q) == 0) {
            outqMin = std::min(outqMin, q);
            outqMax = std::max(outqMax, q);
        }
    };
    auto topUp = [&] {
        for (;;) {
            const ssize_t n = ::write(a.fd(), chunk.data(), chunk.size());
            if (n <= 0)
                return;
            written += static_cast<std::size_t>(n);
            sampleOutq();
            if (written > 1024 * 1024)
                return;
        }
    };
    const auto t0 = SteadyClock::now();
    topUp();
    const std::size_t firstFill = written;
    // The cable takes only what the line carries; the rest must stay with the writer.
    ASSERT_LT(firstFill, 256u * 1024) << "the cable swallowed the writer's output";

    std::size_t received = 0;
    const auto deadline = t0 + kDeadline;
    while (received < 4096 && SteadyClock::now() < deadline) {
        received += b.read(4096, SteadyClock::now() + 50ms).size();
        const double elapsed = std::chrono::duration<double>(SteadyClock::now() - t0).count();
        // Never faster than the line (plus a few milliseconds of credit).
        ASSERT_LE(static_cast<double>(received), 64 + kRate * elapsed * 1.02);
        topUp();
    }
    EXPECT_GE(received, 4096u);
    EXPECT_GT(written, firstFill) << "the writer never got rid of its queue";
    std::printf("[ tty      ] writer filled %zu bytes before blocking; TIOCOUTQ on the slave read %d..%d\n",
                firstFill, outqMin, outqMax);
}

TEST_F(CableTest, RandomFaultsFollowTheSeed)
{
    const Bytes data = randomBytes(16 * 1024, 5);
    const Bytes back = randomBytes(2000, 6);
    auto runWithSeed = [&](const std::string& seed, vnm::CableProcess::Stats& stats) {
        Bytes atB;
        startCable({"--baud", "0", "--seed", seed, "--ber-ab", "2e-3", "--drop-rate-ab", "1e-3", "--noise-rate-ab",
                    "1e-3"});
        Tty a(linkA_), b(linkB_);
        EXPECT_TRUE(a.ok() && b.ok());
        EXPECT_TRUE(a.writeAll(data, SteadyClock::now() + kDeadline));
        drainAtoB(b, data.size(), atB);
        // The faults were asked for A->B only.
        EXPECT_TRUE(b.writeAll(back, SteadyClock::now() + kDeadline));
        EXPECT_EQ(a.read(back.size(), SteadyClock::now() + kDeadline), back);
        stats = *cable_.queryStats();
        EXPECT_EQ(cable_.seed(), std::stoull(seed));
        EXPECT_EQ(cable_.stop(), 0);
        return atB;
    };

    vnm::CableProcess::Stats s1, s2, s3;
    const Bytes first = runWithSeed("42", s1);
    const Bytes again = runWithSeed("42", s2);
    const Bytes other = runWithSeed("43", s3);

    auto& c = s1["A->B"];
    EXPECT_GT(c["dropped"], 0u);
    EXPECT_GT(c["inserted"], 0u);
    EXPECT_GT(c["bits_flipped"], 0u);
    EXPECT_EQ(first.size(), data.size() - c["dropped"] + c["inserted"]);
    EXPECT_NE(first, data);
    EXPECT_EQ(first, again);
    EXPECT_EQ(s1, s2);
    EXPECT_NE(first, other);
    EXPECT_EQ(s1["B->A"]["bits_flipped"] + s1["B->A"]["dropped"] + s1["B->A"]["inserted"], 0u);
}

TEST_F(CableTest, OneShotFaultsHitExactlyTheNamedBytes)
{
    startCable({"--baud", "0", "--corrupt-byte-at-ab", "100:0x01", "--drop-byte-at-ba", "5"});
    Tty a(linkA_), b(linkB_);
    ASSERT_TRUE(a.ok() && b.ok());
    const Bytes ab = randomBytes(300, 7), ba = randomBytes(300, 8);
    Bytes expectB = ab, expectA = ba;
    expectB[99] ^= 0x01;
    expectA.erase(expectA.begin() + 4);

    Bytes atB, atA;
    exchange(a, b, ab, ba, atB, atA, expectB.size(), expectA.size());
    EXPECT_EQ(atB, expectB);
    EXPECT_EQ(atA, expectA);
}

TEST_F(CableTest, LatencyDelaysEveryByte)
{
    startCable({"--baud", "0", "--latency-ms-ab", "40"});
    Tty a(linkA_), b(linkB_);
    ASSERT_TRUE(a.ok() && b.ok());
    for (std::uint8_t i = 0; i < 3; ++i) {
        const auto sent = SteadyClock::now();
        ASSERT_TRUE(a.writeAll({i}, sent + kDeadline));
        ASSERT_EQ(b.read(1, sent + kDeadline), Bytes{i});
        EXPECT_GE(SteadyClock::now() - sent, 40ms);
    }
    // The other way has no latency; only its correctness is checked.
    ASSERT_TRUE(b.writeAll({0x55}, SteadyClock::now() + kDeadline));
    EXPECT_EQ(a.read(1, SteadyClock::now() + kDeadline), Bytes{0x55});
}

TEST_F(CableTest, HangupAfterNBytesGivesTheEndANewPty)
{
    startCable({"--baud", "0", "--hangup-a-after", "1000"});
    const std::string oldSlave = cable_.a().slave;
    Tty a(linkA_), b(linkB_);
    ASSERT_TRUE(a.ok() && b.ok());

    const Bytes data = randomBytes(1000, 9);
    ASSERT_TRUE(b.writeAll(data, SteadyClock::now() + kDeadline));
    bool ended = false;
    const Bytes got = a.read(2000, SteadyClock::now() + kDeadline, &ended);
    EXPECT_TRUE(ended) << "the program on A did not see the hang-up";
    // The cable lets A read what reached its port before hanging up; only a
    // reader stalled for seconds could miss the tail, never see other bytes.
    ASSERT_LE(got.size(), data.size());
    EXPECT_TRUE(std::equal(got.begin(), got.end(), data.begin()));
    std::printf("[ hang-up  ] A read %zu of %zu bytes before the end\n", got.size(), data.size());

    const auto relinked = cable_.waitForRelink('A', kDeadline);
    ASSERT_TRUE(relinked);
    EXPECT_NE(*relinked, oldSlave);
    EXPECT_EQ(cable_.a().slave, *relinked);
    EXPECT_EQ(fs::read_symlink(linkA_).string(), *relinked);

    a.close();
    Tty again(linkA_);
    ASSERT_TRUE(again.ok());
    const Bytes ping = {'p', 'i', 'n', 'g'}, pong = {'p', 'o', 'n', 'g'};
    Bytes atB, atA;
    exchange(again, b, ping, pong, atB, atA);
    EXPECT_EQ(atB, ping);
    EXPECT_EQ(atA, pong);

    const auto stats = cable_.queryStats();
    ASSERT_TRUE(stats);
    EXPECT_EQ(stats->at("hangups").at("A"), 1u);
    EXPECT_EQ(stats->at("hangups").at("B"), 0u);
    EXPECT_EQ(stats->at("B->A").at("carried"), 1000u + pong.size());
}

// Bytes taken from an end count towards its hang-up too; those already on the
// wire still reach the other end.
TEST_F(CableTest, HangupOfTheWritingEnd)
{
    startCable({"--baud", "0", "--hangup-b-after", "500"});
    Tty a(linkA_), b(linkB_);
    ASSERT_TRUE(a.ok() && b.ok());
    const Bytes data = randomBytes(2000, 10);
    ASSERT_TRUE(b.writeAll(data, SteadyClock::now() + kDeadline));
    ASSERT_TRUE(cable_.waitForRelink('B', kDeadline));
    EXPECT_EQ(a.read(500, SteadyClock::now() + kDeadline), Bytes(data.begin(), data.begin() + 500));
    const auto stats = cable_.queryStats();
    ASSERT_TRUE(stats);
    EXPECT_EQ(stats->at("B->A").at("taken"), 500u);
    EXPECT_EQ(stats->at("B->A").at("carried"), 500u);
    EXPECT_EQ(::write(b.fd(), "x", 1), -1);
    EXPECT_EQ(errno, EIO);
}

TEST_F(CableTest, SurvivesAnEndClosedAndReopened)
{
    startCable({"--baud", "0"});
    const auto deadline = SteadyClock::now() + kDeadline;
    auto a = std::make_unique<Tty>(linkA_);
    Tty b(linkB_);
    ASSERT_TRUE(a->ok() && b.ok());
    ASSERT_TRUE(a->writeAll({1, 2, 3}, deadline));
    EXPECT_EQ(b.read(3, deadline), (Bytes{1, 2, 3}));

    a.reset();  // the program on A closes its port...
    ASSERT_TRUE(b.writeAll({4, 5, 6}, deadline));  // ...and B talks to nobody
    a = std::make_unique<Tty>(linkA_);
    ASSERT_TRUE(a->ok());
    EXPECT_EQ(a->read(3, deadline), (Bytes{4, 5, 6})) << "bytes sent while A was closed were lost";
    ASSERT_TRUE(a->writeAll({7, 8}, deadline));
    EXPECT_EQ(b.read(2, deadline), (Bytes{7, 8}));

    // The same for the other end, several times over.
    for (std::uint8_t round = 0; round < 3; ++round) {
        Tty b2(linkB_);
        ASSERT_TRUE(b2.ok());
        ASSERT_TRUE(a->writeAll({round}, deadline));
        EXPECT_EQ(b2.read(1, deadline), Bytes{round});
    }
    const auto stats = cable_.queryStats();
    ASSERT_TRUE(stats);
    EXPECT_EQ(stats->at("hangups").at("A") + stats->at("hangups").at("B"), 0u);
}

TEST_F(CableTest, StopsCleanlyAndRemovesItsLinks)
{
    fs::create_symlink("/dev/null", linkA_);  // left over from an earlier run
    startCable({});
    EXPECT_EQ(fs::read_symlink(linkA_).string(), cable_.a().slave);
    {
        Tty a(linkA_), b(linkB_);
        ASSERT_TRUE(a.ok() && b.ok());
        ASSERT_TRUE(a.writeAll({'x', 'y'}, SteadyClock::now() + kDeadline));
        EXPECT_EQ(b.read(2, SteadyClock::now() + kDeadline), (Bytes{'x', 'y'}));
    }
    EXPECT_EQ(cable_.stop(), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(linkA_)));
    EXPECT_FALSE(fs::exists(fs::symlink_status(linkB_)));
    ASSERT_TRUE(cable_.finalStats());
    EXPECT_EQ(cable_.finalStats()->at("A->B").at("carried"), 2u);

    // End of its standard input (the test that started it died) stops it too.
    startCable({});
    EXPECT_EQ(cable_.closeInputAndWait(), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(linkA_)));
}

TEST_F(CableTest, RefusesBadUsage)
{
    vnm::CableProcess c;
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--baud", "fast"}, {"--ber", "2"}, {"--no-such-flag"}, {"--link-a"},
          {"--hangup-b-after", "0"}, {"--corrupt-byte-at", "3:0x100"}, {"--step-ms", "0"},
          // Forgotten value, value on a flag, abbreviation, stray word.
          {"--link-a", "--baud", "0"}, {"--stop-on-stdin-eof=1"}, {"--bau", "9600"}, {"stray"}}) {
        EXPECT_FALSE(c.start(VNULLMODEM_EXE, args)) << args[0];
        EXPECT_EQ(c.exitCode(), 2) << args[0];
    }
    // A real file where a link should go is not replaced.
    { std::ofstream(linkA_) << "keep me"; }
    EXPECT_FALSE(c.start(VNULLMODEM_EXE, {"--link-a", linkA_}));
    EXPECT_EQ(c.exitCode(), 1);
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(linkA_)));
}

}  // namespace
