// The line, the codec and the gathering of spec_peer: its own, sharing no
// code with Velotrax. Included by spec_peer.cpp alone.
#pragma once
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

enum : int {
    kHeader = 11, kData = 13, kRestartHeader = 14, kRestartPos = 15, kOk = 90, kNotOk = 91,
    kAllReceived = 92, kStop = 93, kResendAnswer = 94, kResendBlock = 95, kError = 99
};

void Put32(Bytes& b, std::int32_t v)
{
    const auto u = static_cast<std::uint32_t>(v);
    for (int i = 0; i < 4; ++i)
        b.push_back(std::uint8_t(u >> (8 * i)));
}
std::int32_t Get32(const std::uint8_t* p)
{
    return std::int32_t(std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16
                        | std::uint32_t(p[3]) << 24);
}

struct Line {
    int fd = -1;
    std::chrono::milliseconds deadline{0};  // 0: wait for ever, as the original does
    Clock::time_point start = Clock::now();

    bool Open(const std::string& path)
    {
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
        if (fd < 0)
            return false;
        termios t{};
        tcgetattr(fd, &t);
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
        tcflush(fd, TCIOFLUSH);
        return true;
    }
    void Write(const Bytes& block)
    {
        Bytes out{0x00};
        for (std::uint8_t c : block) {
            if (c == 0x00) {
                out.push_back(0x01);
                out.push_back(0x02);
            } else if (c == 0x01) {
                out.push_back(0x01);
                out.push_back(0x01);
            } else {
                out.push_back(c);
            }
        }
        for (size_t done = 0; done < out.size();) {
            const ssize_t n = ::write(fd, out.data() + done, out.size() - done);
            if (n < 0 && errno != EINTR && errno != EAGAIN)
                std::exit(1);
            if (n > 0)
                done += size_t(n);
        }
    }
    // One read; false when the deadline passed.
    bool Read(Bytes& chunk)
    {
        for (;;) {
            int wait = -1;
            if (deadline.count() > 0) {
                const auto left = deadline - std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
                if (left.count() <= 0)
                    return false;
                wait = int(left.count());
            }
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, wait) == 0)
                continue;
            std::uint8_t buf[4096];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0) {
                chunk.assign(buf, buf + n);
                return true;
            }
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
                std::exit(1);
        }
    }
    void Discard() { tcflush(fd, TCIFLUSH); }
};

// Gathers one block from the line as the original frame receiver does: the
// length of a data block is read only on the Receiver, and whatever follows a
// block in the same read is dropped.
struct Gatherer {
    bool receiver = true;
    bool escape = false;
    Bytes buf;  // unstuffed, position 1 at index 0
    size_t expected = 1;

    // Feeds a chunk; true when buf holds a complete block (the rest is dropped).
    bool Feed(const Bytes& chunk)
    {
        for (std::uint8_t c : chunk) {
            if (c == 0x00)
                continue;
            if (!escape && c == 0x01) {
                escape = true;
                continue;
            }
            if (escape) {
                escape = false;
                c = c == 0x02 ? 0x00 : c;
            }
            buf.push_back(c);
            if (buf.size() > 8000)
                std::exit(4);
            if (buf.size() < expected)
                continue;
            if (expected == 1)
                expected = buf[0] == 'H' ? 8 : 6;
            if (buf.size() < expected)
                continue;
            if (receiver && buf[0] == 'H' && expected == 8) {
                const auto n = std::int16_t(buf[6] | buf[7] << 8);
                expected = size_t(std::max<int>(n, 0)) + 16;
                if (buf.size() < expected)
                    continue;
            }
            return true;
        }
        return false;
    }
    void Reset()
    {
        buf.clear();
        expected = 1;
    }
};

Bytes Answer(int code, std::int32_t value)
{
    Bytes b{'A', std::uint8_t(code)};
    Put32(b, value);
    return b;
}

struct Stats {
    int accepted = 0, rejected = 0, served = 0;
    void Print() const { std::printf("STATS accepted=%d rejected=%d served=%d\n", accepted, rejected, served); }
};

int Fail(const char* text)
{
    std::fprintf(stderr, "spec_peer: %s\n", text);
    return 2;
}

}  // namespace
