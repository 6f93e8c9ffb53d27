// A program the stop benchmark starts: its standard error kept line by line
// with the time each line came, its end seen without blocking, and ended
// (SIGTERM, then SIGKILL) when the object goes, or killed when the thread
// that started it ends (the benchmark itself killed).
#pragma once
#include <QString>
#include <QStringList>
#include <sys/types.h>
#include <vector>

namespace stopbench {

// Milliseconds on a monotonic clock shared by every measurement.
double NowMs();
void SleepMs(int ms);

class Child {
public:
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() { End(); }

    // env: "NAME=value" entries that replace or add to the benchmark's own.
    // fd3: handed to the program as its descriptor 3 (Xvfb -displayfd 3).
    bool Start(const QStringList& args, const QStringList& env = {}, int fd3 = -1);
    // Reads what came on standard error and notes the end; true while it runs.
    bool Poll();
    // Waits at most ms for the end; true once it ended.
    bool Wait(int ms);
    void Signal(int signal) const;
    // SIGTERM, two seconds, SIGKILL; waits for it.
    void End();

    pid_t Pid() const { return m_pid; }
    double endedAtMs = -1;
    int exitCode = -1;  // -1: ended by a signal or still running
    // Time the first line holding `part` came, or -1.
    double LineAt(const QString& part) const;
    QString Text() const;

private:
    struct Line {
        double atMs;
        QString text;
    };
    void Read();
    pid_t m_pid = -1;
    int m_err = -1;
    QByteArray m_partial;
    std::vector<Line> m_lines;
};

}  // namespace stopbench
