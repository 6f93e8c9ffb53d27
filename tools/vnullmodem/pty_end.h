#pragma once
#include "line.h"

#include <cstdint>
#include <deque>
#include <limits>
#include <optional>
#include <string>
#include <termios.h>

namespace vnm {

// One end of the cable: a pty pair. The program under test opens the slave
// (usually through the link), the cable reads and writes the master.
struct End {
    char name = 'A';
    std::string link;
    int master = -1;
    int slave = -1;  // the cable's own fd on the slave, see main.cpp
    std::string slavePath;
    std::uint64_t traffic = 0;  // bytes read from plus written to the master
    int readable = 0;           // bytes the master held after the last read: a flush may drop these
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

bool setNonBlockCloexec(int fd);
// The termios speed shown to the program; the cable paces by itself.
speed_t termiosSpeed(double baud);

bool openEnd(End& e, speed_t speed, std::string& error);
void closeEnd(End& e);
// Points `link` at `target` atomically: a program opening the link never sees it missing.
bool placeLink(const std::string& link, const std::string& target, std::string& error);
// Removes the link only if it still points at this cable's end.
void removeLink(const std::string& link, const std::string& target);
// "A <slave> [<link>]"
std::string describeEnd(const End& e);

}  // namespace vnm
