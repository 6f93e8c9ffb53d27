// vnullmodem: two pseudo-terminals joined like a null-modem cable, carrying
// bytes at the speed of a serial line and optionally damaging them.
//
// Each end is a pty pair: the program under test opens the slave (usually via
// a link such as DIR/COM1), the cable reads and writes the master. The cable
// keeps its own fd on each slave open, so a program closing and re-opening its
// port does not make the master report EIO; bytes sent towards a closed end
// wait in the kernel and in the cable's queue until someone reads them.

#include "line.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <limits>
#include <optional>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

using vnm::Clock;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr std::size_t kReadChunk = 4096;
constexpr std::size_t kQueueBase = 4096;  // bytes on the wire besides those held back by latency
constexpr double kBurstSeconds = 0.005;   // credit an idle line may bank, at least two steps
// Before a planned hang-up the program gets the chance to read what reached its
// port, so "after N bytes" means N bytes arrived. Bytes pass the kernel's flip
// buffer before FIONREAD sees them, hence the quiet time after the last write.
constexpr auto kHangupQuiet = std::chrono::milliseconds(10);
constexpr auto kHangupMaxWait = std::chrono::seconds(2);
constexpr auto kHangupCheck = std::chrono::milliseconds(2);

const char* const kHelp = R"(Usage: vnullmodem [options]
Joins two pseudo-terminals A and B like a null-modem cable. Prints one line per
end ("A <slave> [<link>]", "B ..."), then "READY".

  --link-a PATH, --link-b PATH
                      put a symlink to that end's slave at PATH (an existing
                      link is replaced; any other file is refused)
  --baud N            line speed, 8N1 = N/10 bytes per second each way;
                      0 = unlimited (default 115200)
  --seed S            seed for all random faults (default: random, printed as
                      "SEED S"); see below for what it affects
  --step-ms MS        while bytes wait for the line, wake up every MS ms and pass
                      what the line carried meanwhile (default 1; more = less
                      CPU, coarser timing)
  --stop-on-stdin-eof stop when standard input reaches end of file

Faults. Each takes a direction suffix: none = both ways, -ab = bytes written
into A and read at B, -ba = the other way.
  --ber P             flip each carried bit with probability P
  --drop-rate P       lose each byte taken from the writer with probability P
  --noise-rate P      after each carried byte insert a random byte with
                      probability P
  --latency-ms MS     deliver every byte MS milliseconds after it was taken
  --corrupt-byte-at N[:MASK]
                      XOR the Nth byte (1-based) taken from the writer with
                      MASK (default 0xFF); repeatable
  --drop-byte-at N    lose the Nth byte (1-based) taken from the writer;
                      repeatable
Hang-ups (repeatable; N counts the bytes read from plus written to that end's
master, both directions, from the start):
  --hangup-a-after N, --hangup-b-after N
                      once N bytes went through that end, stop its traffic, give
                      its program up to 2 s to read what reached the port, then
                      close its pty master (the program sees a hang-up: EOF on
                      read, EIO on write), drop the bytes still on their way
                      towards it, open a new pty and repoint the link; prints
                      "RELINK A <new slave>"

Random faults use std::mt19937_64 seeded with {seed, direction, kind}: one
generator per direction for bit errors, one for drops, one for noise (its draws
also give the noise bytes). Drops count positions among the bytes taken from
the writer, bit errors and noise among the bytes that were not dropped, so the
same seed and input give the same output however the bytes were chunked.

Standard input: a line "stats" prints the statistics (as at the end) followed
by "STATS-END". SIGTERM, SIGINT and SIGHUP stop the cable: it removes its
links, prints the statistics and exits 0. Exit code 2: bad usage; 1: failure.
)";

struct DirectionOptions {
    vnm::FaultSettings faults;
    double latencyMs = 0;
};

struct Options {
    std::string link[2];
    double baud = 115200;
    double stepMs = 1;
    DirectionOptions dir[2];            // 0: A->B, 1: B->A
    std::vector<std::uint64_t> hangupAfter[2];  // per end: 0 = A, 1 = B
    std::optional<std::uint64_t> seed;
    bool stopOnStdinEof = false;
};

struct UsageError {
    std::string text;
};

bool parseDouble(const std::string& s, double& out)
{
    if (s.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtod(s.c_str(), &end);
    return errno == 0 && *end == '\0' && std::isfinite(out);
}

bool parseU64(const std::string& s, std::uint64_t& out, int base = 10)
{
    if (s.empty() || s[0] == '-' || s[0] == '+' || std::isspace(static_cast<unsigned char>(s[0])))
        return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(s.c_str(), &end, base);
    out = v;
    return errno == 0 && *end == '\0';
}

Options parseOptions(int argc, char** argv, bool& help)
{
    Options o;
    help = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool hasValue = false;
        if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
            hasValue = true;
        }
        auto take = [&]() -> std::string {
            if (hasValue)
                return value;
            // "--link-a --baud 0" is a forgotten value, not a file named "--baud".
            if (i + 1 >= argc || std::string(argv[i + 1]).rfind("--", 0) == 0)
                throw UsageError{arg + " needs a value"};
            return argv[++i];
        };
        auto bad = [&](const std::string& v) { return UsageError{"bad value for " + arg + ": '" + v + "'"}; };

        if (arg == "--help" || arg == "-h") {
            help = true;
            return o;
        }
        if (arg == "--stop-on-stdin-eof") {
            if (hasValue)
                throw UsageError{arg + " takes no value"};
            o.stopOnStdinEof = true;
            continue;
        }
        if (arg == "--link-a" || arg == "--link-b") {
            const std::string v = take();
            if (v.empty())
                throw bad(v);
            o.link[arg == "--link-a" ? 0 : 1] = v;
            continue;
        }
        if (arg == "--baud") {
            const std::string v = take();
            if (!parseDouble(v, o.baud) || o.baud < 0)
                throw bad(v);
            continue;
        }
        if (arg == "--step-ms") {
            const std::string v = take();
            if (!parseDouble(v, o.stepMs) || o.stepMs < 0.1 || o.stepMs > 1000)
                throw bad(v);
            continue;
        }
        if (arg == "--seed") {
            const std::string v = take();
            std::uint64_t s = 0;
            if (!parseU64(v, s))
                throw bad(v);
            o.seed = s;
            continue;
        }
        if (arg == "--hangup-a-after" || arg == "--hangup-b-after") {
            const std::string v = take();
            std::uint64_t n = 0;
            if (!parseU64(v, n) || n == 0)
                throw bad(v);
            o.hangupAfter[arg == "--hangup-a-after" ? 0 : 1].push_back(n);
            continue;
        }

        // Per-direction faults: --name, --name-ab, --name-ba.
        std::string base = arg;
        bool dirs[2] = {true, true};
        if (base.size() > 3 && base.compare(base.size() - 3, 3, "-ab") == 0) {
            base.resize(base.size() - 3);
            dirs[1] = false;
        } else if (base.size() > 3 && base.compare(base.size() - 3, 3, "-ba") == 0) {
            base.resize(base.size() - 3);
            dirs[0] = false;
        }
        auto each = [&](auto&& apply) {
            for (int d = 0; d < 2; ++d)
                if (dirs[d])
                    apply(o.dir[d]);
        };
        auto probability = [&]() {
            const std::string v = take();
            double p = 0;
            if (!parseDouble(v, p) || p < 0 || p > 1)
                throw bad(v);
            return p;
        };
        if (base == "--ber") {
            const double p = probability();
            each([&](DirectionOptions& d) { d.faults.bitErrorRate = p; });
        } else if (base == "--drop-rate") {
            const double p = probability();
            each([&](DirectionOptions& d) { d.faults.dropRate = p; });
        } else if (base == "--noise-rate") {
            const double p = probability();
            each([&](DirectionOptions& d) { d.faults.noiseRate = p; });
        } else if (base == "--latency-ms") {
            const std::string v = take();
            double ms = 0;
            if (!parseDouble(v, ms) || ms < 0 || ms > 60000)
                throw bad(v);
            each([&](DirectionOptions& d) { d.latencyMs = ms; });
        } else if (base == "--corrupt-byte-at") {
            const std::string v = take();
            const auto colon = v.find(':');
            std::uint64_t n = 0, mask = 0xFF;
            if (!parseU64(v.substr(0, colon), n) || n == 0)
                throw bad(v);
            if (colon != std::string::npos && (!parseU64(v.substr(colon + 1), mask, 0) || mask == 0 || mask > 0xFF))
                throw bad(v);
            each([&](DirectionOptions& d) {
                d.faults.corruptAt.push_back({n, static_cast<std::uint8_t>(mask)});
            });
        } else if (base == "--drop-byte-at") {
            const std::string v = take();
            std::uint64_t n = 0;
            if (!parseU64(v, n) || n == 0)
                throw bad(v);
            each([&](DirectionOptions& d) { d.faults.dropAt.push_back(n); });
        } else {
            throw UsageError{"unknown option " + std::string(argv[i])};
        }
    }
    for (auto& list : o.hangupAfter) {
        std::sort(list.begin(), list.end());
        list.erase(std::unique(list.begin(), list.end()), list.end());
    }
    return o;
}

// ---------------------------------------------------------------- output

void writeAll(int fd, const std::string& s)
{
    std::size_t done = 0;
    while (done < s.size()) {
        const ssize_t n = ::write(fd, s.data() + done, s.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;  // nobody listens any more; the cable keeps working
        done += static_cast<std::size_t>(n);
    }
}

void say(const std::string& line) { writeAll(STDOUT_FILENO, line + "\n"); }
void complain(const std::string& line) { writeAll(STDERR_FILENO, "vnullmodem: " + line + "\n"); }

// ---------------------------------------------------------------- signals

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const int saved = errno;
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &c, 1);
    errno = saved;
}

bool setNonBlockCloexec(int fd)
{
    const int fl = ::fcntl(fd, F_GETFL);
    const int fd_fl = ::fcntl(fd, F_GETFD);
    return fl >= 0 && fd_fl >= 0 && ::fcntl(fd, F_SETFL, fl | O_NONBLOCK) == 0 &&
           ::fcntl(fd, F_SETFD, fd_fl | FD_CLOEXEC) == 0;
}

// ---------------------------------------------------------------- ends

speed_t termiosSpeed(double baud)
{
    static const struct {
        double baud;
        speed_t speed;
    } table[] = {{300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},
                 {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
                 {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800},
                 {921600, B921600}};
    for (const auto& e : table)
        if (e.baud == baud)
            return e.speed;
    return B115200;  // only cosmetic: the cable paces by itself, and B0 would mean hang up
}

struct End {
    char name = 'A';
    std::string link;
    int master = -1;
    int slave = -1;  // the cable's own fd on the slave, see the file comment
    std::string slavePath;
    std::uint64_t traffic = 0;  // bytes read from plus written to the master
    std::deque<std::uint64_t> hangupAt;
    std::optional<Clock::time_point> hangupSince;  // planned hang-up waiting for the port to drain
    Clock::time_point lastDelivery;
    unsigned hangups = 0;

    std::size_t untilHangup() const
    {
        if (hangupSince)
            return 0;
        return hangupAt.empty() ? std::numeric_limits<std::size_t>::max()
                                : static_cast<std::size_t>(hangupAt.front() - traffic);
    }
};

bool openEnd(End& e, speed_t speed, std::string& error)
{
    termios t{};
    cfmakeraw(&t);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    char name[256] = {};
    if (::openpty(&e.master, &e.slave, name, &t, nullptr) != 0) {
        error = std::string("openpty: ") + std::strerror(errno);
        return false;
    }
    if (!setNonBlockCloexec(e.master) || !setNonBlockCloexec(e.slave)) {
        error = std::string("fcntl: ") + std::strerror(errno);
        return false;
    }
    e.slavePath = name;
    return true;
}

void closeEnd(End& e)
{
    if (e.master >= 0)
        ::close(e.master);
    if (e.slave >= 0)
        ::close(e.slave);
    e.master = e.slave = -1;
}

// Points `link` at `target` atomically: a program opening the link never sees it missing.
bool placeLink(const std::string& link, const std::string& target, std::string& error)
{
    if (link.empty())
        return true;
    struct stat st{};
    if (::lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        error = link + " exists and is not a symbolic link";
        return false;
    }
    const std::string tmp = link + ".vnm" + std::to_string(::getpid()) + ".tmp";
    ::unlink(tmp.c_str());
    if (::symlink(target.c_str(), tmp.c_str()) != 0) {
        error = "symlink " + tmp + ": " + std::strerror(errno);
        return false;
    }
    if (::rename(tmp.c_str(), link.c_str()) != 0) {
        error = "rename to " + link + ": " + std::strerror(errno);
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

// Removes the link only if it still points at this cable's end.
void removeLink(const std::string& link, const std::string& target)
{
    if (link.empty())
        return;
    char buf[4096];
    const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
    if (n > 0 && std::string(buf, static_cast<std::size_t>(n)) == target)
        ::unlink(link.c_str());
}

std::string describeEnd(const End& e)
{
    std::string s(1, e.name);
    s += " " + e.slavePath;
    if (!e.link.empty())
        s += " " + e.link;
    return s;
}

// ---------------------------------------------------------------- the line

struct Chunk {
    Clock::time_point due;
    std::vector<std::uint8_t> bytes;
    std::size_t offset = 0;
};

struct Direction {
    const char* label;
    End* from;
    End* to;
    vnm::TokenBucket bucket;
    vnm::FaultInjector faults;
    Clock::duration latency;
    std::size_t capacity;
    std::size_t step;  // bytes worth one wake-up while waiting for credit
    std::deque<Chunk> queue;
    std::size_t queued = 0;
    std::uint64_t carried = 0;
    std::uint64_t lostAtHangup = 0;
};

class Cable {
public:
    Cable(const Options& o, std::uint64_t seed)
        : options_(o),
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

    Cable(const Cable&) = delete;  // the directions point into ends_
    Cable& operator=(const Cable&) = delete;

    ~Cable()
    {
        for (auto& e : ends_) {
            removeLink(e.link, e.slavePath);
            closeEnd(e);
        }
    }

    bool open(std::string& error)
    {
        for (auto& e : ends_)
            if (!openEnd(e, speed_, error) || !placeLink(e.link, e.slavePath, error))
                return false;
        return true;
    }

    const End& end(int i) const { return ends_[i]; }

    // One round: move what may move now, then sleep until something can.
    // Returns false on a failure that ends the cable.
    bool step(bool& stop, bool& watchStdin)
    {
        const auto now = Clock::now();
        for (auto& d : dirs_) {
            if (!take(d, now) || !deliver(d, now))
                return false;
        }
        std::optional<Clock::time_point> wake;
        auto wakeAt = [&wake](Clock::time_point t) { wake = wake ? std::min(*wake, t) : t; };
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
                wakeAt(now + kHangupCheck);
            }
        }

        std::vector<pollfd> fds;
        auto want = [&fds](int fd, short events) {
            for (auto& p : fds)
                if (p.fd == fd) {
                    p.events = static_cast<short>(p.events | events);
                    return;
                }
            fds.push_back(pollfd{fd, events, 0});
        };
        want(g_signalPipe[0], POLLIN);
        if (watchStdin)
            want(STDIN_FILENO, POLLIN);
        for (auto& e : ends_)
            want(e.master, 0);  // hang-up of an end is reported even without events
        for (auto& d : dirs_) {
            if (d.queued < d.capacity && d.from->untilHangup() > 0) {
                if (d.bucket.available(now) >= 1)
                    want(d.from->master, POLLIN);
                else
                    wakeAt(d.bucket.whenAvailable(d.step));
            }
            if (!d.queue.empty()) {
                if (d.queue.front().due <= now)
                    want(d.to->master, POLLOUT);
                else
                    wakeAt(d.queue.front().due);
            }
        }

        timespec ts{};
        timespec* timeout = nullptr;
        if (wake) {
            const auto left = std::max(Clock::duration::zero(), *wake - Clock::now());
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            ts.tv_sec = static_cast<time_t>(ns / 1000000000);
            ts.tv_nsec = static_cast<long>(ns % 1000000000);
            timeout = &ts;
        }
        const int r = ::ppoll(fds.data(), fds.size(), timeout, nullptr);
        if (r < 0) {
            if (errno == EINTR)
                return true;
            complain(std::string("poll: ") + std::strerror(errno));
            return false;
        }
        for (const auto& p : fds) {
            if (p.revents == 0)
                continue;
            if (p.fd == g_signalPipe[0]) {
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

    void printStats() const
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

private:
    static unsigned long long ull(std::uint64_t v) { return static_cast<unsigned long long>(v); }

    static Direction makeDirection(const char* label, int index, End& from, End& to, const Options& o,
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
                         vnm::TokenBucket(rate, burst, Clock::now()),
                         vnm::FaultInjector(d.faults, seed, static_cast<unsigned>(index)),
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
    bool take(Direction& d, Clock::time_point now)
    {
        const std::size_t room = d.capacity > d.queued ? d.capacity - d.queued : 0;
        const std::size_t n = std::min({room, kReadChunk, d.bucket.available(now), d.from->untilHangup()});
        if (n == 0)
            return true;
        std::uint8_t buf[kReadChunk];
        const ssize_t r = ::read(d.from->master, buf, n);
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
        const auto got = static_cast<std::size_t>(r);
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

    bool deliver(Direction& d, Clock::time_point now)
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

    bool hangUpIfDue(End& e)
    {
        if (e.hangupAt.empty() || e.traffic < e.hangupAt.front())
            return true;
        e.hangupAt.pop_front();
        e.hangupSince = Clock::now();
        return true;
    }

    // Closes an end and gives it a fresh pty; bytes on their way to it are lost
    // with the old port, bytes it already sent stay on the wire.
    bool renew(End& e, const char* why)
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

    void readCommands(bool& stop, bool& watchStdin)
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

    Options options_;
    speed_t speed_;
    End ends_[2];
    Direction dirs_[2];
    std::string input_;
};

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    bool help = false;
    try {
        options = parseOptions(argc, argv, help);
    } catch (const UsageError& e) {
        complain(e.text);
        complain("try --help");
        return kExitUsage;
    }
    if (help) {
        writeAll(STDOUT_FILENO, kHelp);
        return kExitOk;
    }

    if (::pipe(g_signalPipe) != 0 || !setNonBlockCloexec(g_signalPipe[0]) || !setNonBlockCloexec(g_signalPipe[1])) {
        complain(std::string("pipe: ") + std::strerror(errno));
        return kExitFailure;
    }
    struct sigaction sa{};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    for (const int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    const std::uint64_t seed = options.seed ? *options.seed : (std::uint64_t{std::random_device{}()} << 32) ^
                                                                 std::random_device{}();
    int rc = kExitOk;
    {
        Cable cable(options, seed);
        std::string error;
        if (!cable.open(error)) {
            complain(error);
            return kExitFailure;
        }
        say(describeEnd(cable.end(0)));
        say(describeEnd(cable.end(1)));
        say("SEED " + std::to_string(seed));
        say("READY");

        bool stop = false;
        bool watchStdin = true;
        while (!stop) {
            if (!cable.step(stop, watchStdin)) {
                rc = kExitFailure;
                break;
            }
        }
        cable.printStats();
    }
    return rc;
}
