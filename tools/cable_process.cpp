#include "cable_process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace vnm {

namespace {
using SteadyClock = std::chrono::steady_clock;

int msUntil(SteadyClock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left + 1, 60000));
}

bool startsWith(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }
}  // namespace

CableProcess::~CableProcess()
{
    if (running())
        stop();
    closeFds();
}

void CableProcess::closeFds()
{
    if (in_ >= 0)
        ::close(in_);
    if (out_ >= 0)
        ::close(out_);
    in_ = out_ = -1;
}

bool CableProcess::start(const std::string& exe, const std::vector<std::string>& args,
                         std::chrono::milliseconds timeout)
{
    if (running()) {
        error_ = "already running";
        return false;
    }
    closeFds();
    lines_.clear();
    partial_.clear();
    ends_[0] = ends_[1] = End{};
    exitCode_.reset();
    finalStats_.reset();
    error_.clear();

    // A socket rather than a pipe for its stdin: writing to a dead cable must
    // give EPIPE (MSG_NOSIGNAL), not kill the test with SIGPIPE.
    int inPair[2];
    int outPipe[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, inPair) != 0) {
        error_ = std::string("socketpair: ") + std::strerror(errno);
        return false;
    }
    if (::pipe2(outPipe, O_CLOEXEC) != 0) {
        error_ = std::string("pipe: ") + std::strerror(errno);
        ::close(inPair[0]);
        ::close(inPair[1]);
        return false;
    }

    std::vector<std::string> argStrings;
    argStrings.push_back(exe);
    argStrings.push_back("--stop-on-stdin-eof");
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : argStrings)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inPair[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // Keep the test's own fds (ttys it opened, say) out of the cable.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
#endif
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(inPair[1]);
    ::close(outPipe[1]);
    if (rc != 0) {
        error_ = "cannot start " + exe + ": " + std::strerror(rc);
        ::close(inPair[0]);
        ::close(outPipe[0]);
        return false;
    }
    pid_ = pid;
    in_ = inPair[0];
    out_ = outPipe[0];

    const auto deadline = SteadyClock::now() + timeout;
    if (!waitForLine("READY", timeout)) {
        if (running() && out_ >= 0) {
            error_ = "no READY from the cable within " + std::to_string(timeout.count()) + " ms";
            stop(std::chrono::seconds(2));
        } else {
            reap(deadline + std::chrono::seconds(2));
            error_ = "the cable ended before READY (exit code " +
                     (exitCode_ ? std::to_string(*exitCode_) : std::string("?")) + ")";
        }
        return false;
    }
    for (auto& l : lines_) {
        std::istringstream in(l.text);
        std::string tag;
        in >> tag;
        if (tag == "A" || tag == "B") {
            End& e = ends_[tag == "B" ? 1 : 0];
            in >> e.slave >> e.link;
            l.consumed = true;
        } else if (tag == "SEED") {
            in >> seed_;
            l.consumed = true;
        }
    }
    if (ends_[0].slave.empty() || ends_[1].slave.empty()) {
        error_ = "the cable did not name both ends";
        stop();
        return false;
    }
    return true;
}

bool CableProcess::pump(SteadyClock::time_point deadline)
{
    if (out_ < 0)
        return false;
    pollfd p{out_, POLLIN, 0};
    const int r = ::poll(&p, 1, msUntil(deadline));
    if (r <= 0)
        return true;
    char buf[4096];
    const ssize_t n = ::read(out_, buf, sizeof buf);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return true;
    if (n <= 0) {
        ::close(out_);
        out_ = -1;
        if (!partial_.empty()) {
            lines_.push_back({partial_, false});
            partial_.clear();
        }
        return false;
    }
    partial_.append(buf, static_cast<std::size_t>(n));
    for (auto nl = partial_.find('\n'); nl != std::string::npos; nl = partial_.find('\n')) {
        lines_.push_back({partial_.substr(0, nl), false});
        partial_.erase(0, nl + 1);
    }
    return true;
}

std::optional<std::string> CableProcess::waitForLine(const std::string& prefix, std::chrono::milliseconds timeout)
{
    const auto deadline = SteadyClock::now() + timeout;
    std::size_t scanned = 0;
    for (;;) {
        for (; scanned < lines_.size(); ++scanned) {
            Line& l = lines_[scanned];
            if (!l.consumed && startsWith(l.text, prefix)) {
                l.consumed = true;
                return l.text;
            }
        }
        if (SteadyClock::now() >= deadline || !pump(deadline)) {
            // The last read may have brought the line together with the end.
            for (; scanned < lines_.size(); ++scanned)
                if (!lines_[scanned].consumed && startsWith(lines_[scanned].text, prefix)) {
                    lines_[scanned].consumed = true;
                    return lines_[scanned].text;
                }
            return std::nullopt;
        }
    }
}

std::optional<std::string> CableProcess::waitForRelink(char end, std::chrono::milliseconds timeout)
{
    const auto line = waitForLine(std::string("RELINK ") + end + " ", timeout);
    if (!line)
        return std::nullopt;
    std::string slave = line->substr(9);
    ends_[end == 'B' ? 1 : 0].slave = slave;
    return slave;
}

std::optional<CableProcess::Stats> CableProcess::collectStats(SteadyClock::time_point deadline)
{
    Stats stats;
    for (;;) {
        const auto line = waitForLine("STATS", msUntil(deadline) * std::chrono::milliseconds(1));
        if (!line)
            return std::nullopt;
        if (*line == "STATS-END")
            return stats;
        std::istringstream in(line->substr(6));
        std::string group, field;
        in >> group;
        while (in >> field) {
            const auto eq = field.find('=');
            if (eq != std::string::npos)
                stats[group][field.substr(0, eq)] = std::stoull(field.substr(eq + 1));
        }
    }
}

std::optional<CableProcess::Stats> CableProcess::queryStats(std::chrono::milliseconds timeout)
{
    if (in_ < 0)
        return std::nullopt;
    static const char cmd[] = "stats\n";
    if (::send(in_, cmd, sizeof cmd - 1, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof cmd - 1))
        return std::nullopt;
    return collectStats(SteadyClock::now() + timeout);
}

int CableProcess::reap(SteadyClock::time_point deadline)
{
    if (pid_ <= 0)
        return exitCode_.value_or(-1);
    int status = 0;
    for (;;) {
        const pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_)
            break;
        if (r < 0 && errno != EINTR) {
            pid_ = -1;
            return -1;
        }
        if (SteadyClock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
            break;
        }
        // Its output already ended, so this is the last moment of its exit.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    pid_ = -1;
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return *exitCode_;
}

int CableProcess::stop(std::chrono::milliseconds timeout)
{
    if (!running())
        return -1;
    ::kill(pid_, SIGTERM);
    return closeInputAndWait(timeout);
}

int CableProcess::closeInputAndWait(std::chrono::milliseconds timeout)
{
    if (!running())
        return -1;
    const auto deadline = SteadyClock::now() + timeout;
    if (in_ >= 0) {
        ::close(in_);
        in_ = -1;
    }
    while (SteadyClock::now() < deadline && pump(deadline)) {
    }
    if (out_ >= 0) {
        ::close(out_);
        out_ = -1;
    }
    // The statistics block the cable printed on its way out, if any.
    for (auto& l : lines_)
        if (!l.consumed && startsWith(l.text, "STATS ")) {
            finalStats_ = collectStats(SteadyClock::now());
            break;
        }
    return reap(deadline);
}

std::vector<std::string> CableProcess::lines() const
{
    std::vector<std::string> all;
    for (const auto& l : lines_)
        all.push_back(l.text);
    return all;
}

}  // namespace vnm
