#include "Child.h"
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace stopbench {

double NowMs()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

void SleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

namespace {
std::vector<std::string> Environment(const QStringList& overrides)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('=') + 1);
        bool replaced = false;
        for (const QString& o : overrides)
            replaced = replaced || o.toStdString().rfind(name, 0) == 0;
        if (!replaced)
            env.push_back(entry);
    }
    for (const QString& o : overrides)
        env.push_back(o.toStdString());
    return env;
}

std::vector<char*> Pointers(std::vector<std::string>& text)
{
    std::vector<char*> out;
    for (std::string& t : text)
        out.push_back(t.data());
    out.push_back(nullptr);
    return out;
}
}  // namespace

bool Child::Start(const QStringList& args, const QStringList& env, int fd3)
{
    int errPipe[2], execPipe[2];
    if (::pipe2(errPipe, O_CLOEXEC) != 0)
        return false;
    if (::pipe2(execPipe, O_CLOEXEC) != 0) {
        ::close(errPipe[0]);
        ::close(errPipe[1]);
        return false;
    }
    std::vector<std::string> argText, envText = Environment(env);
    for (const QString& a : args)
        argText.push_back(a.toStdString());
    std::vector<char*> argv = Pointers(argText), envp = Pointers(envText);
    const pid_t parent = ::getpid();

    m_pid = ::fork();
    if (m_pid == 0) {
        // Only async-signal-safe calls from here on. Killed with the thread that
        // started it, so that nothing outlives a benchmark that was killed.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(errPipe[1], 2);
        if (fd3 == 3)
            ::fcntl(3, F_SETFD, 0);
        else if (fd3 >= 0)
            ::dup2(fd3, 3);  // dup2 clears close-on-exec
        ::execvpe(argv[0], argv.data(), envp.data());
        const int error = errno;
        [[maybe_unused]] const ssize_t n = ::write(execPipe[1], &error, sizeof error);
        ::_exit(127);
    }
    ::close(errPipe[1]);
    ::close(execPipe[1]);
    int error = 0;
    // Empty at once when exec worked: the pipe closed with it.
    const bool execFailed = m_pid > 0 && ::read(execPipe[0], &error, sizeof error) == ssize_t(sizeof error);
    ::close(execPipe[0]);
    if (m_pid <= 0 || execFailed) {
        if (m_pid > 0)
            ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
        ::close(errPipe[0]);
        return false;
    }
    m_err = errPipe[0];
    ::fcntl(m_err, F_SETFL, ::fcntl(m_err, F_GETFL) | O_NONBLOCK);
    return true;
}

void Child::Read()
{
    if (m_err < 0)
        return;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_err, buffer, sizeof buffer);
        if (n <= 0) {
            if (n == 0 || errno != EAGAIN) {
                ::close(m_err);
                m_err = -1;
            }
            break;
        }
        const double at = NowMs();
        m_partial.append(buffer, n);
        for (qsizetype nl; (nl = m_partial.indexOf('\n')) >= 0;) {
            m_lines.push_back({at, QString::fromLocal8Bit(m_partial.left(nl))});
            m_partial.remove(0, nl + 1);
        }
    }
}

bool Child::Poll()
{
    Read();
    if (m_pid <= 0)
        return false;
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) != m_pid)
        return true;
    endedAtMs = NowMs();
    exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    m_pid = -1;
    Read();
    return false;
}

bool Child::Wait(int ms)
{
    const double until = NowMs() + ms;
    while (Poll()) {
        if (NowMs() >= until)
            return false;
        SleepMs(2);
    }
    return true;
}

void Child::Signal(int signal) const
{
    if (m_pid > 0)
        ::kill(m_pid, signal);
}

void Child::End()
{
    if (m_pid > 0) {
        Signal(SIGTERM);
        if (!Wait(2000)) {
            Signal(SIGKILL);
            Wait(5000);
        }
    }
    if (m_err >= 0) {
        ::close(m_err);
        m_err = -1;
    }
}

double Child::LineAt(const QString& part) const
{
    for (const Line& l : m_lines)
        if (l.text.contains(part))
            return l.atMs;
    return -1;
}

QString Child::Text() const
{
    QString out;
    for (const Line& l : m_lines)
        out += l.text + u'\n';
    return out + QString::fromLocal8Bit(m_partial);
}

}  // namespace stopbench
