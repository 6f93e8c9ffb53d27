#include "Child.h"
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
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
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return false;
    std::vector<std::string> argText, envText = Environment(env);
    for (const QString& a : args)
        argText.push_back(a.toStdString());
    std::vector<char*> argv = Pointers(argText), envp = Pointers(envText);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    if (fd3 >= 0)
        posix_spawn_file_actions_adddup2(&actions, fd3, 3);
    const int rc = posix_spawnp(&m_pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (rc != 0) {
        m_pid = -1;
        ::close(pipeFds[0]);
        return false;
    }
    m_err = pipeFds[0];
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
