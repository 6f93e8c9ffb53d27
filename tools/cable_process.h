// Runs the virtual null-modem cable (vnullmodem) as a child process for tests,
// demos and benchmarks. Only the C++ standard library and POSIX.
//
//   vnm::CableProcess cable;
//   ASSERT_TRUE(cable.start(VNULLMODEM_EXE, {"--link-a", dirA + "/COM1", "--link-b", dirB + "/COM1"}))
//       << cable.error();
//   ... open dirA/COM1 and dirB/COM1 ...
//
// The cable is started with --stop-on-stdin-eof and a pipe as its standard
// input, so it ends by itself if the test process dies. The destructor stops it.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vnm {

class CableProcess {
public:
    struct End {
        std::string slave;  // current /dev/pts/N of that end
        std::string link;   // as given with --link-a / --link-b, or empty
    };
    // Counters of one "STATS" report: stats["A->B"]["carried"], stats["hangups"]["A"].
    using Stats = std::map<std::string, std::map<std::string, std::uint64_t>>;

    CableProcess() = default;
    ~CableProcess();
    CableProcess(const CableProcess&) = delete;
    CableProcess& operator=(const CableProcess&) = delete;

    // Starts `exe` with `args` and waits until it printed READY. On failure
    // error() says why and exitCode() holds its exit code if it ended.
    bool start(const std::string& exe, const std::vector<std::string>& args,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

    const End& a() const { return ends_[0]; }
    const End& b() const { return ends_[1]; }
    const End& end(char which) const { return ends_[which == 'B' ? 1 : 0]; }
    std::uint64_t seed() const { return seed_; }
    pid_t pid() const { return pid_; }
    bool running() const { return pid_ > 0; }
    const std::string& error() const { return error_; }
    std::optional<int> exitCode() const { return exitCode_; }

    // Waits for the next not yet consumed output line that starts with
    // `prefix`, consumes it and returns it.
    std::optional<std::string> waitForLine(const std::string& prefix, std::chrono::milliseconds timeout);
    // Waits for "RELINK <end> <slave>"; returns the new slave and updates end().
    std::optional<std::string> waitForRelink(char end, std::chrono::milliseconds timeout);
    // Asks the running cable for its counters.
    std::optional<Stats> queryStats(std::chrono::milliseconds timeout = std::chrono::seconds(5));

    // SIGTERM, then waits for the exit (SIGKILL after `timeout`). Returns the
    // exit code (128 + signal if killed), or -1 if it was not running.
    int stop(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Closes the cable's standard input and waits for it to end by itself.
    int closeInputAndWait(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // The counters printed when the cable stopped.
    const std::optional<Stats>& finalStats() const { return finalStats_; }
    // Every line the cable printed so far.
    std::vector<std::string> lines() const;

private:
    struct Line {
        std::string text;
        bool consumed = false;
    };
    // Reads what is there, waiting at most until `deadline`. False once the output ended.
    bool pump(std::chrono::steady_clock::time_point deadline);
    int reap(std::chrono::steady_clock::time_point deadline);
    std::optional<Stats> collectStats(std::chrono::steady_clock::time_point deadline);
    void closeFds();

    pid_t pid_ = -1;
    int in_ = -1;   // our end of its stdin
    int out_ = -1;  // our end of its stdout
    std::string partial_;
    std::vector<Line> lines_;
    End ends_[2];
    std::uint64_t seed_ = 0;
    std::string error_;
    std::optional<int> exitCode_;
    std::optional<Stats> finalStats_;
};

}  // namespace vnm
