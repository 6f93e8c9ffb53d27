#pragma once
#include "line.h"
#include "options.h"
#include "pty_end.h"

#include <deque>
#include <optional>
#include <poll.h>
#include <string>
#include <vector>

namespace vnm {

// Bytes taken from one end, due at the other end after the latency.
struct Chunk {
    Clock::time_point due;
    std::vector<std::uint8_t> bytes;
    std::size_t offset = 0;
};

// One way along the cable: pace, faults and the bytes on their way.
struct Direction {
    const char* label;
    End* from;
    End* to;
    TokenBucket bucket;
    FaultInjector faults;
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
    // stopFd becomes readable when the cable is to stop (the signal pipe).
    Cable(const Options& o, std::uint64_t seed, int stopFd);
    Cable(const Cable&) = delete;  // the directions point into ends_
    Cable& operator=(const Cable&) = delete;
    ~Cable();

    bool open(std::string& error);
    const End& end(int i) const { return ends_[i]; }

    // One round: move what may move now, then sleep until something can.
    // Returns false on a failure that ends the cable.
    bool step(bool& stop, bool& watchStdin);
    void printStats() const;

private:
    // The earliest moment something can move again; none means only events wake us.
    struct Wake {
        std::optional<Clock::time_point> at;
        void atLatest(Clock::time_point t) { at = at ? std::min(*at, t) : t; }
    };

    static Direction makeDirection(const char* label, int index, End& from, End& to, const Options& o,
                                   std::uint64_t seed);
    bool take(Direction& d, Clock::time_point now);
    void dropFlushed(End& e);
    bool deliver(Direction& d, Clock::time_point now);
    // Ends a planned hang-up once the program has read what reached its port.
    bool finishHangups(Clock::time_point now, Wake& wake);
    std::vector<pollfd> pollSet(Clock::time_point now, bool watchStdin, Wake& wake);
    bool handleEvents(const std::vector<pollfd>& fds, bool& stop, bool& watchStdin);
    bool hangUpIfDue(End& e);
    bool renew(End& e, const char* why);
    void readCommands(bool& stop, bool& watchStdin);

    Options options_;
    int stopFd_;
    speed_t speed_;
    End ends_[2];
    Direction dirs_[2];
    std::string input_;
};

}  // namespace vnm
