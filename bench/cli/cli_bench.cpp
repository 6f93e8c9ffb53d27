// The benchmark transfer through two velotrax-cli processes on the virtual
// cable: payload throughput as a share of line capacity, and each process's CPU.
#include "cable_process.h"
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;
namespace fs = std::filesystem;

namespace {
pid_t Spawn(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    return pid;
}

double CpuSeconds(const rusage& r)
{
    return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) + double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

bool RunOnce(int baud, int waitMs, std::size_t size)
{
    const fs::path root = fs::temp_directory_path() / ("velotrax-bench-" + std::to_string(getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "a");
    fs::create_directories(root / "b");
    fs::create_directories(root / "in");
    const fs::path file = root / "bench.bin";
    {
        std::mt19937 rng(42);
        std::ofstream out(file, std::ios::binary);
        for (std::size_t i = 0; i < size; ++i)
            out.put(char(rng() & 0xff));
    }
    vnm::CableProcess cable;
    if (!cable.start(VNULLMODEM_EXE, {"--link-a", (root / "a/COM1").string(), "--link-b", (root / "b/COM1").string(),
                                      "--baud", std::to_string(baud), "--step-ms", "1"})) {
        std::fprintf(stderr, "cable: %s\n", cable.error().c_str());
        return false;
    }
    const std::string speed = std::to_string(baud), wait = std::to_string(waitMs);
    const pid_t receiver = Spawn({VELOTRAX_CLI_EXE, "receive", "--port", (root / "b/COM1").string(), "--speed", speed,
                                  "--wait-ms", wait, "--once", (root / "in").string()});
    // The receiver is listening once its port is open; a short head start is plenty
    // (the sender's first header would be answered after a watchdog retry anyway).
    struct timespec ts{0, 300000000};
    nanosleep(&ts, nullptr);
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t sender = Spawn({VELOTRAX_CLI_EXE, "send", "--port", (root / "a/COM1").string(), "--speed", speed,
                                "--wait-ms", wait, file.string()});
    int status = 0;
    rusage rs{}, rr{};
    wait4(sender, &status, 0, &rs);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const int sendStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    wait4(receiver, &status, 0, &rr);
    const int receiveStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;

    std::ifstream a(file, std::ios::binary), b(root / "in/bench.bin", std::ios::binary);
    const std::string x((std::istreambuf_iterator<char>(a)), {}), y((std::istreambuf_iterator<char>(b)), {});
    const bool same = x == y && sendStatus == 0 && receiveStatus == 0;
    const double rate = double(size) / seconds;
    std::printf("%7d baud  pause %d ms  %6.1f KiB in %6.2f s  %8.0f B/s  %5.1f %% of line  "
                "CPU sender %4.2f %%  receiver %4.2f %%  exit %d/%d%s\n",
                baud, waitMs, double(size) / 1024.0, seconds, rate, 100.0 * rate / (baud / 10.0),
                100.0 * CpuSeconds(rs) / seconds, 100.0 * CpuSeconds(rr) / seconds, sendStatus, receiveStatus,
                same ? "" : "  FAILED");
    std::fflush(stdout);
    fs::remove_all(root);
    return same;
}
}  // namespace

int main(int argc, char** argv)
{
    std::size_t size = 256 * 1024;
    std::vector<int> bauds{115200, 921600};
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--size")
            size = std::strtoul(argv[i + 1], nullptr, 10);
        if (std::string(argv[i]) == "--baud")
            bauds = {std::atoi(argv[i + 1])};
    }
    bool ok = true;
    for (int baud : bauds)
        for (int waitMs : {2, 0})
            ok = RunOnce(baud, waitMs, baud > 200000 ? size * 4 : size) && ok;
    return ok ? 0 : 1;
}
