// Runs the built qrnstamp as a process against real files; built a second
// time to run the Windows build under wine (QRNSTAMP_WIN_EXE).

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kFailed = 2;

#ifdef QRNSTAMP_WIN_EXE
constexpr bool kUnderWine = true;
// Wine shows the whole Linux tree as drive Z:.
std::string ToolPath(const std::string& path)
{
    std::string windows = "Z:" + path;
    for (char& c : windows)
        if (c == '/')
            c = '\\';
    return windows;
}
#else
constexpr bool kUnderWine = false;
std::string ToolPath(const std::string& path) { return path; }
#endif

// Exit code of qrnstamp with the given arguments, or -1 if it did not exit.
int RunStamp(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(QRNSTAMP_EXE));
#ifdef QRNSTAMP_WIN_EXE
    argv.push_back(const_cast<char*>(QRNSTAMP_WIN_EXE));
    setenv("WINEPREFIX", QRNSTAMP_WINEPREFIX, 1);
    setenv("WINEDEBUG", "-all", 1);
    setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
    unsetenv("DISPLAY");
#endif
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    pid_t pid = 0;
    if (posix_spawn(&pid, QRNSTAMP_EXE, nullptr, nullptr, argv.data(), environ) != 0) {
        ADD_FAILURE() << "cannot start " << QRNSTAMP_EXE;
        return -1;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << "qrnstamp did not finish";
            return -1;
        }
        const timespec pause{0, 1000000};
        nanosleep(&pause, nullptr);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Questioned(const std::string& native)
{
    std::string path = ToolPath(native);
    for (char& c : path)
        if (c == ' ')
            c = '?';
    return path;
}

// Sets TZ for this process and the tools it starts.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* tz)
    {
        if (const char* old = std::getenv("TZ"))
            m_old = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ScopedTimeZone()
    {
        if (m_old)
            setenv("TZ", m_old->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::optional<std::string> m_old;
};

long OffsetNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local.tm_gmtoff;
}

std::time_t AsIfUtc(int year, int month, int day, int hour, int minute, int second)
{
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return timegm(&t);
}

struct stat StatOf(const fs::path& p)
{
    struct stat st {};
    EXPECT_EQ(stat(p.c_str(), &st), 0) << p;
    return st;
}

void SetTimes(const fs::path& p, timespec atime, timespec mtime)
{
    const timespec times[2] = {atime, mtime};
    ASSERT_EQ(utimensat(AT_FDCWD, p.c_str(), times, 0), 0) << p;
}

class QrnstampRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/qrnstamp test XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
    }
    void TearDown() override { fs::remove_all(m_dir); }

    fs::path MakeFile(const fs::path& relative)
    {
        const fs::path p = m_dir / relative;
        fs::create_directories(p.parent_path());
        std::ofstream(p) << "content";
        SetTimes(p, {1000000000, 0}, {1100000000, 0});
        return p;
    }

    fs::path m_dir;
};

TEST_F(QrnstampRun, StampsLocalTimeOnPathWithBlanksWrittenAsQuestionMarks)
{
    const ScopedTimeZone tz("QRN-3");  // UTC+3, no daylight saving
    const fs::path file = MakeFile("My Files/a b.txt");

    ASSERT_EQ(RunStamp({Questioned(file), "20070315143055"}), 0);

    const struct stat st = StatOf(file);
    EXPECT_EQ(st.st_mtim.tv_sec, AsIfUtc(2007, 3, 15, 14, 30, 55) - 3 * 3600);
    EXPECT_EQ(st.st_mtim.tv_nsec, 0);
    std::tm local{};
    localtime_r(&st.st_mtim.tv_sec, &local);
    EXPECT_EQ(local.tm_year + 1900, 2007);
    EXPECT_EQ(local.tm_mon + 1, 3);
    EXPECT_EQ(local.tm_mday, 15);
    EXPECT_EQ(local.tm_hour, 14);
    EXPECT_EQ(local.tm_min, 30);
    EXPECT_EQ(local.tm_sec, 55);
}

TEST_F(QrnstampRun, DropsFractionAndIgnoresExtraArguments)
{
    const ScopedTimeZone tz("UTC0");
    const fs::path file = MakeFile("f.txt");

    ASSERT_EQ(RunStamp({ToolPath(file.string()), "20070315143055.7", "more", "args"}), 0);
    EXPECT_EQ(StatOf(file).st_mtim.tv_sec, AsIfUtc(2007, 3, 15, 14, 30, 55));
}

TEST_F(QrnstampRun, ConvertsWithTheOffsetInForceNowNotTheDatesOwn)
{
    // Winter UTC+1, summer UTC+2: one of the two dates has an offset other
    // than today's, and must still be shifted by today's.
    const ScopedTimeZone tz("QRW-1QRS,M3.5.0,M10.5.0/3");
    const fs::path file = MakeFile("f.txt");

    for (const auto& [text, month] : {std::pair{"20070115120000", 1}, std::pair{"20070715120000", 7}}) {
        const long before = OffsetNow();
        ASSERT_EQ(RunStamp({ToolPath(file.string()), text}), 0);
        if (OffsetNow() != before)
            GTEST_SKIP() << "daylight saving switched during the run";
        EXPECT_EQ(StatOf(file).st_mtim.tv_sec, AsIfUtc(2007, month, 15, 12, 0, 0) - before) << text;
    }
}

TEST_F(QrnstampRun, LeavesTheAccessTimeAlone)
{
    const fs::path file = MakeFile("f.txt");
    SetTimes(file, {1000000000, 500000000}, {1100000000, 0});

    ASSERT_EQ(RunStamp({ToolPath(file.string()), "20070315143055"}), 0);
    const struct stat st = StatOf(file);
    EXPECT_EQ(st.st_atim.tv_sec, 1000000000);
    EXPECT_EQ(st.st_atim.tv_nsec, 500000000);
    EXPECT_NE(st.st_mtim.tv_sec, 1100000000);
}

// Windows opens no path longer than 259 characters through these calls.
#ifndef QRNSTAMP_WIN_EXE
TEST_F(QrnstampRun, UsesOnlyTheFirst299CharactersOfThePath)
{
    const std::string folder = (m_dir / std::string(100, 'd')).string() + "/";
    const std::string path299 = folder + std::string(299 - folder.size(), 'n');
    ASSERT_EQ(path299.size(), 299u);
    const fs::path file = MakeFile(fs::path(path299).lexically_relative(m_dir));

    const std::string arg = Questioned(path299) + "tail.txt";
    ASSERT_GE(arg.size(), 300u);
    ASSERT_EQ(RunStamp({arg, "20070315143055"}), 0);
    EXPECT_NE(StatOf(file).st_mtim.tv_sec, 1100000000);
    EXPECT_FALSE(fs::exists(path299 + "tail.txt"));
}
#endif

TEST_F(QrnstampRun, TooFewArgumentsTouchNothing)
{
    const fs::path file = MakeFile("f.txt");
    EXPECT_EQ(RunStamp({}), kFailed);
    EXPECT_EQ(RunStamp({ToolPath(file.string())}), kFailed);
    EXPECT_EQ(StatOf(file).st_mtim.tv_sec, 1100000000);
}

TEST_F(QrnstampRun, PathsThatCannotBeOpenedForWritingFail)
{
    const fs::path missing = m_dir / "missing.txt";
    EXPECT_EQ(RunStamp({ToolPath(missing.string()), "20070315143055"}), kFailed);
    EXPECT_FALSE(fs::exists(missing));

    EXPECT_EQ(RunStamp({ToolPath((m_dir / "no folder" / "f.txt").string()), "20070315143055"}), kFailed);
    EXPECT_EQ(RunStamp({ToolPath(m_dir.string()), "20070315143055"}), kFailed);

    // A FIFO nobody reads must fail, not hang (Windows has no FIFOs).
    if (kUnderWine)
        return;
    const fs::path fifo = m_dir / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_EQ(RunStamp({fifo.string(), "20070315143055"}), kFailed);
}

TEST_F(QrnstampRun, InvalidDateFailsAndLeavesTheFileAlone)
{
    const fs::path file = MakeFile("f.txt");
    for (const char* date : {"20071315143055", "20070229120000", "20070315240000", "abc", "", "-20070315143055",
                             "nan", "inf", "1e300"}) {
        EXPECT_EQ(RunStamp({ToolPath(file.string()), date}), kFailed) << '"' << date << '"';
    }
    const struct stat st = StatOf(file);
    EXPECT_EQ(st.st_mtim.tv_sec, 1100000000);
    EXPECT_EQ(st.st_size, 7);
}

} // namespace
