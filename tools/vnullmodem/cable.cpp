#include "cable.h"
#include "console.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/ioctl.h>
#include <unistd.h>

namespace vnm {

namespace {

constexpr std::size_t kReadChunk = 4096;
constexpr std::size_t kQueueBase = 4096;  // bytes on the wire besides those held back by latency
constexpr double kBurstSeconds = 0.005;   // credit an idle line may bank, at least two steps
// Before a planned hang-up the program gets the chance to read what reached its
// port, so "after N bytes" means N bytes arrived. Bytes pass the kernel's flip
// buffer before FIONREAD sees them, hence the quiet time after the last write.
constexpr auto kHangupQuiet = std::chrono::milliseconds(10);
constexpr auto kHangupMaxWait = std::chrono::seconds(2);
constexpr auto kHangupCheck = std::chrono::milliseconds(2);

unsigned long long ull(std::uint64_t v) { return static_cast<unsigned long long>(v); }

}  // namespace

Cable::Cable(const Options& o, std::uint64_t seed, int stopFd)
    : options_(o),
      stopFd_(stopFd),
      speed_(termiosSpeed(o.baud)),
      dirs_{makeDirection("A->B", 0, ends_[0], ends_[1], o, seed),
            makeDirection("B->A", 1, ends_[1], ends_[0], o, seed)}
{
    for (int i = 0; i < 2; ++i) {
        ends_[i].name = static_cast<char>('A' + i);
        ends_[i].link = o.link[i];
        ends_[i].hangupAt.assign(o.hangupAfter[i].begin(), o.hangupAfter[i].end());
    }
}

Cable::~Cable()
{
    for (auto& e : ends_) {
        removeLink(e.link, e.slavePath);
        closeEnd(e);
    }
}

bool Cable::open(std::string& error)
{
    for (auto& e : ends_)
        if (!openEnd(e, speed_, error) || !placeLink(e.link, e.slavePath, error))
            return false;
    return true;
}

bool Cable::step(bool& stop, bool& watchStdin)
{
    const auto now = Clock::now();
    for (auto& d : dirs_) {
        if (!take(d, now) || !deliver(d, now))
            return false;
    }
    Wake wake;
    if (!finishHangups(now, wake))
        return false;
    std::vector<pollfd> fds = pollSet(now, watchStdin, wake);

    timespec ts{};
    timespec* timeout = nullptr;
    if (wake.at) {
        const auto left = std::max(Clock::duration::zero(), *wake.at - Clock::now());
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        ts.tv_sec = static_cast<time_t>(ns / 1000000000);
        ts.tv_nsec = static_cast<long>(ns % 1000000000);
        timeout = &ts;
    }
    if (::ppoll(fds.data(), fds.size(), timeout, nullptr) < 0) {
        if (errno == EINTR)
            return true;
        complain(std::string("poll: ") + std::strerror(errno));
        return false;
    }
    return handleEvents(fds, stop, watchStdin);
}

bool Cable::finishHangups(Clock::time_point now, Wake& wake)
{
    for (auto& e : ends_) {
        if (!e.hangupSince)
            continue;
        int waiting = 0;
        if (::ioctl(e.slave, FIONREAD, &waiting) != 0)
            waiting = 0;
        if ((waiting == 0 && now - e.lastDelivery >= kHangupQuiet) || now - *e.hangupSince >= kHangupMaxWait) {
            if (!renew(e, "planned"))
                return false;
        } else {
            wake.atLatest(now + kHangupCheck);
        }
    }
    return true;
}

std::vector<pollfd> Cable::pollSet(Clock::time_point now, bool watchStdin, Wake& wake)
{
    std::vector<pollfd> fds;
    auto want = [&fds](int fd, short events) {
        for (auto& p : fds)
            if (p.fd == fd) {
                p.events = static_cast<short>(p.events | events);
                return;
            }
        fds.push_back(pollfd{fd, events, 0});
    };
    want(stopFd_, POLLIN);
    if (watchStdin)
        want(STDIN_FILENO, POLLIN);
    for (const auto& e : ends_)
        want(e.master, 0);  // hang-up of an end is reported even without events
    for (auto& d : dirs_) {
        if (d.queued < d.capacity && d.from->untilHangup() > 0) {
            if (d.bucket.available(now) >= 1)
                want(d.from->master, POLLIN);
            else
                wake.atLatest(d.bucket.whenAvailable(d.step));
        }
        if (!d.queue.empty()) {
            if (d.queue.front().due <= now)
                want(d.to->master, POLLOUT);
            else
                wake.atLatest(d.queue.front().due);
        }
    }
    return fds;
}

bool Cable::handleEvents(const std::vector<pollfd>& fds, bool& stop, bool& watchStdin)
{
    for (const auto& p : fds) {
        if (p.revents == 0)
            continue;
        if (p.fd == stopFd_) {
            stop = true;
        } else if (p.fd == STDIN_FILENO) {
            readCommands(stop, watchStdin);
        } else if (p.revents & (POLLHUP | POLLERR)) {
            // Only when the slave was hung up from the program's side; the
            // end is dead, so give it a new pty as after a planned hang-up.
            for (auto& e : ends_)
                if (e.master == p.fd && !renew(e, "lost"))
                    return false;
        }
    }
    return true;
}

void Cable::printStats() const
{
    for (const auto& d : dirs_) {
        const auto& c = d.faults.counters();
        char line[512];
        std::snprintf(line, sizeof line,
                      "STATS %s taken=%llu carried=%llu queued=%zu dropped=%llu bits_flipped=%llu "
                      "bytes_corrupted=%llu inserted=%llu lost_at_hangup=%llu",
                      d.label, ull(c.taken), ull(d.carried), d.queued, ull(c.dropped), ull(c.bitsFlipped),
                      ull(c.bytesCorrupted), ull(c.inserted), ull(d.lostAtHangup));
        say(line);
    }
    say("STATS hangups A=" + std::to_string(ends_[0].hangups) + " B=" + std::to_string(ends_[1].hangups));
    say("STATS-END");
}

Direction Cable::makeDirection(const char* label, int index, End& from, End& to, const Options& o,
                               std::uint64_t seed)
{
    const double rate = o.baud / 10.0;  // 8N1: ten bit times per byte
    const DirectionOptions& d = o.dir[index];
    const double latencyS = d.latencyMs / 1000.0;
    std::size_t capacity = kQueueBase;
    if (latencyS > 0)
        capacity += rate > 0 ? static_cast<std::size_t>(rate * latencyS) : 65536;
    const double stepS = o.stepMs / 1000.0;
    const double burst = std::max(1.0, rate * std::max(kBurstSeconds, 2 * stepS));
    const auto step = static_cast<std::size_t>(std::clamp(rate * stepS, 1.0, burst));
    return Direction{label,
                     &from,
                     &to,
                     TokenBucket(rate, burst, Clock::now()),
                     FaultInjector(d.faults, seed, static_cast<unsigned>(index)),
                     std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(latencyS)),
                     capacity,
                     step,
                     {},
                     0,
                     0,
                     0};
}

// Takes from the writer only what the line may carry now, so the rest stays
// in the kernel and the writer is held back at line speed.
bool Cable::take(Direction& d, Clock::time_point now)
{
    const std::size_t room = d.capacity > d.queued ? d.capacity - d.queued : 0;
    const std::size_t n = std::min({room, kReadChunk, d.bucket.available(now), d.from->untilHangup()});
    if (n == 0)
        return true;
    std::uint8_t packet[kReadChunk + 1];  // the status byte, then the data
    const ssize_t r = ::read(d.from->master, packet, n + 1);
    if (r < 0) {
        if (errno == EAGAIN)
            d.bucket.idle();
        if (errno == EAGAIN || errno == EINTR)
            return true;
        if (errno == EIO)
            return renew(*d.from, "lost");
        complain(std::string("read: ") + std::strerror(errno));
        return false;
    }
    if (r == 0)
        return true;
    if (packet[0] != TIOCPKT_DATA) {
        if (packet[0] & TIOCPKT_FLUSHWRITE)
            dropFlushed(*d.from);
        return true;
    }
    const std::uint8_t* buf = packet + 1;
    const auto got = static_cast<std::size_t>(r - 1);
    if (::ioctl(d.from->master, FIONREAD, &d.from->readable) != 0)
        d.from->readable = 0;
    if (got == 0)
        return true;
    d.bucket.take(got);
    if (got < n)
        d.bucket.idle();
    d.from->traffic += got;
    Chunk c{now + d.latency, {}, 0};
    c.bytes.reserve(got + 8);
    d.faults.apply(buf, got, c.bytes);
    if (!c.bytes.empty()) {
        d.queued += c.bytes.size();
        d.queue.push_back(std::move(c));
    }
    return hangUpIfDue(*d.from);
}

// The program flushed its output: what a UART's driver still held is gone.
// Only bytes that waited before the flush go, never the ones written after it.
void Cable::dropFlushed(End& e)
{
    int waiting = 0;
    if (::ioctl(e.master, FIONREAD, &waiting) != 0)
        waiting = 0;
    std::size_t drop = static_cast<std::size_t>(std::max(0, std::min(waiting, e.readable)));
    e.readable = 0;
    std::uint8_t packet[kReadChunk + 1];
    while (drop > 0) {
        const ssize_t r = ::read(e.master, packet, std::min(drop, kReadChunk) + 1);
        if (r <= 1 || packet[0] != TIOCPKT_DATA)
            return;
        drop -= static_cast<std::size_t>(r - 1);
        e.traffic += static_cast<std::size_t>(r - 1);
    }
}

bool Cable::deliver(Direction& d, Clock::time_point now)
{
    while (!d.queue.empty() && d.queue.front().due <= now) {
        Chunk& c = d.queue.front();
        const std::size_t n = std::min(c.bytes.size() - c.offset, d.to->untilHangup());
        if (n == 0)
            return true;
        const ssize_t r = ::write(d.to->master, c.bytes.data() + c.offset, n);
        if (r < 0) {
            if (errno == EAGAIN || errno == EINTR)
                return true;
            if (errno == EIO)
                return renew(*d.to, "lost");
            complain(std::string("write: ") + std::strerror(errno));
            return false;
        }
        const auto put = static_cast<std::size_t>(r);
        c.offset += put;
        d.queued -= put;
        d.carried += put;
        d.to->traffic += put;
        d.to->lastDelivery = now;
        if (c.offset == c.bytes.size())
            d.queue.pop_front();
        if (!d.to->hangupAt.empty() && d.to->traffic >= d.to->hangupAt.front())
            return hangUpIfDue(*d.to);
    }
    return true;
}

bool Cable::hangUpIfDue(End& e)
{
    if (e.hangupAt.empty() || e.traffic < e.hangupAt.front())
        return true;
    e.hangupAt.pop_front();
    e.hangupSince = Clock::now();
    return true;
}

// Closes an end and gives it a fresh pty; bytes on their way to it are lost
// with the old port, bytes it already sent stay on the wire.
bool Cable::renew(End& e, const char* why)
{
    closeEnd(e);  // the link is repointed below, atomically
    ++e.hangups;
    e.hangupSince.reset();
    for (auto& d : dirs_)
        if (d.to == &e) {
            d.lostAtHangup += d.queued;
            d.queue.clear();
            d.queued = 0;
        }
    std::string error;
    if (!openEnd(e, speed_, error) || !placeLink(e.link, e.slavePath, error)) {
        complain(error);
        return false;
    }
    if (std::strcmp(why, "planned") != 0)
        complain(std::string(1, e.name) + " hung up by its program; new pty " + e.slavePath);
    say(std::string("RELINK ") + e.name + " " + e.slavePath);
    return true;
}

void Cable::readCommands(bool& stop, bool& watchStdin)
{
    char buf[512];
    const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (n <= 0) {
        watchStdin = false;
        if (options_.stopOnStdinEof)
            stop = true;
        return;
    }
    input_.append(buf, static_cast<std::size_t>(n));
    for (auto nl = input_.find('\n'); nl != std::string::npos; nl = input_.find('\n')) {
        std::string line = input_.substr(0, nl);
        input_.erase(0, nl + 1);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        if (line == "stats")
            printStats();
        else if (!line.empty())
            complain("unknown command '" + line + "'");
    }
    if (input_.size() > 4096)
        input_.clear();
}

}  // namespace vnm
