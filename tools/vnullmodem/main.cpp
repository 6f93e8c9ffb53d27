// vnullmodem: two pseudo-terminals joined like a null-modem cable, carrying
// bytes at the speed of a serial line and optionally damaging them.
//
// Each end is a pty pair: the program under test opens the slave (usually via
// a link such as DIR/COM1), the cable reads and writes the master. The cable
// keeps its own fd on each slave open, so a program closing and re-opening its
// port does not make the master report EIO; bytes sent towards a closed end
// wait in the kernel and in the cable's queue until someone reads them.
//
// options.cpp reads the command line, pty_end.cpp makes and links the ends,
// cable.cpp moves the bytes, line.cpp paces and damages them.

#include "cable.h"
#include "console.h"
#include "options.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <random>
#include <unistd.h>

using namespace vnm;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const int saved = errno;
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &c, 1);
    errno = saved;
}

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
        Cable cable(options, seed, g_signalPipe[0]);
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
