#include "options.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <getopt.h>

namespace vnm {

const char* const kHelp = R"(Usage: vnullmodem [options]
Joins two pseudo-terminals A and B like a null-modem cable. Prints one line per
end ("A <slave> [<link>]", "B ..."), then "READY".

  --link-a PATH, --link-b PATH
                      put a symlink to that end's slave at PATH (an existing
                      link is replaced; any other file is refused)
  --baud N            line speed, 8N1 = N/10 bytes per second each way;
                      0 = unlimited (default 115200)
  --seed S            seed for all random faults (default: random, printed as
                      "SEED S"); see below for what it affects
  --step-ms MS        while bytes wait for the line, wake up every MS ms and pass
                      what the line carried meanwhile (default 1; more = less
                      CPU, coarser timing)
  --stop-on-stdin-eof stop when standard input reaches end of file

Faults. Each takes a direction suffix: none = both ways, -ab = bytes written
into A and read at B, -ba = the other way.
  --ber P             flip each carried bit with probability P
  --drop-rate P       lose each byte taken from the writer with probability P
  --noise-rate P      after each carried byte insert a random byte with
                      probability P
  --latency-ms MS     deliver every byte MS milliseconds after it was taken
  --corrupt-byte-at N[:MASK]
                      XOR the Nth byte (1-based) taken from the writer with
                      MASK (default 0xFF); repeatable
  --drop-byte-at N    lose the Nth byte (1-based) taken from the writer;
                      repeatable
Hang-ups (repeatable; N counts the bytes read from plus written to that end's
master, both directions, from the start):
  --hangup-a-after N, --hangup-b-after N
                      once N bytes went through that end, stop its traffic, give
                      its program up to 2 s to read what reached the port, then
                      close its pty master (the program sees a hang-up: EOF on
                      read, EIO on write), drop the bytes still on their way
                      towards it, open a new pty and repoint the link; prints
                      "RELINK A <new slave>"

Random faults use std::mt19937_64 seeded with {seed, direction, kind}: one
generator per direction for bit errors, one for drops, one for noise (its draws
also give the noise bytes). Drops count positions among the bytes taken from
the writer, bit errors and noise among the bytes that were not dropped, so the
same seed and input give the same output however the bytes were chunked.

Standard input: a line "stats" prints the statistics (as at the end) followed
by "STATS-END". SIGTERM, SIGINT and SIGHUP stop the cable: it removes its
links, prints the statistics and exits 0. Exit code 2: bad usage; 1: failure.
)";

namespace {

enum Option : int {
    Help = 'h',
    LinkA = 256,
    LinkB,
    Baud,
    StepMs,
    Seed,
    StopOnStdinEof,
    HangupA,
    HangupB,
    FaultBase = 512,  // + kind * 3 + direction suffix (none, -ab, -ba)
};

enum Fault : int { Ber, DropRate, NoiseRate, Latency, CorruptAt, DropAt, FaultKinds };
const char* const kFaultNames[FaultKinds] = {"ber", "drop-rate", "noise-rate", "latency-ms", "corrupt-byte-at",
                                             "drop-byte-at"};
const char* const kSuffixes[3] = {"", "-ab", "-ba"};

std::vector<option> longOptions()
{
    static std::vector<std::string> faultNames;
    if (faultNames.empty())
        for (const char* name : kFaultNames)
            for (const char* suffix : kSuffixes)
                faultNames.push_back(std::string(name) + suffix);
    std::vector<option> table = {
        {"help", no_argument, nullptr, Help},
        {"link-a", required_argument, nullptr, LinkA},
        {"link-b", required_argument, nullptr, LinkB},
        {"baud", required_argument, nullptr, Baud},
        {"step-ms", required_argument, nullptr, StepMs},
        {"seed", required_argument, nullptr, Seed},
        {"stop-on-stdin-eof", no_argument, nullptr, StopOnStdinEof},
        {"hangup-a-after", required_argument, nullptr, HangupA},
        {"hangup-b-after", required_argument, nullptr, HangupB},
    };
    for (std::size_t i = 0; i < faultNames.size(); ++i)
        table.push_back({faultNames[i].c_str(), required_argument, nullptr, FaultBase + static_cast<int>(i)});
    table.push_back({nullptr, 0, nullptr, 0});
    return table;
}

bool parseDouble(const std::string& s, double& out)
{
    if (s.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtod(s.c_str(), &end);
    return errno == 0 && *end == '\0' && std::isfinite(out);
}

bool parseU64(const std::string& s, std::uint64_t& out, int base = 10)
{
    if (s.empty() || s[0] == '-' || s[0] == '+' || std::isspace(static_cast<unsigned char>(s[0])))
        return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(s.c_str(), &end, base);
    out = v;
    return errno == 0 && *end == '\0';
}

// One option as written ("--name" without any "=value") and its value.
struct Given {
    std::string arg;
    std::string value;

    UsageError bad() const { return UsageError{"bad value for " + arg + ": '" + value + "'"}; }
    double number(double low, double high) const
    {
        double v = 0;
        if (!parseDouble(value, v) || v < low || v > high)
            throw bad();
        return v;
    }
    std::uint64_t count() const  // 1 or more
    {
        std::uint64_t n = 0;
        if (!parseU64(value, n) || n == 0)
            throw bad();
        return n;
    }
};

void applyFault(Options& o, int code, const Given& g)
{
    const int kind = code / 3;
    const int suffix = code % 3;  // none: both ways; -ab: only A->B; -ba: only B->A
    const auto each = [&](auto&& apply) {
        for (int d = 0; d < 2; ++d)
            if (suffix == 0 || suffix == d + 1)
                apply(o.dir[d]);
    };
    switch (kind) {
    case Ber:
    case DropRate:
    case NoiseRate: {
        static constexpr double FaultSettings::*kRates[] = {&FaultSettings::bitErrorRate, &FaultSettings::dropRate,
                                                            &FaultSettings::noiseRate};
        const double p = g.number(0, 1);
        each([&](DirectionOptions& d) { d.faults.*kRates[kind] = p; });
        break;
    }
    case Latency: {
        const double ms = g.number(0, 60000);
        each([&](DirectionOptions& d) { d.latencyMs = ms; });
        break;
    }
    case CorruptAt: {
        const auto colon = g.value.find(':');
        std::uint64_t n = 0, mask = 0xFF;
        if (!parseU64(g.value.substr(0, colon), n) || n == 0)
            throw g.bad();
        if (colon != std::string::npos
            && (!parseU64(g.value.substr(colon + 1), mask, 0) || mask == 0 || mask > 0xFF))
            throw g.bad();
        each([&](DirectionOptions& d) { d.faults.corruptAt.push_back({n, static_cast<std::uint8_t>(mask)}); });
        break;
    }
    case DropAt: {
        const std::uint64_t n = g.count();
        each([&](DirectionOptions& d) { d.faults.dropAt.push_back(n); });
        break;
    }
    }
}

void apply(Options& o, int code, const Given& g)
{
    switch (code) {
    case LinkA:
    case LinkB:
        if (g.value.empty())
            throw g.bad();
        o.link[code == LinkA ? 0 : 1] = g.value;
        break;
    case Baud:
        o.baud = g.number(0, HUGE_VAL);
        break;
    case StepMs:
        o.stepMs = g.number(0.1, 1000);
        break;
    case Seed: {
        std::uint64_t s = 0;
        if (!parseU64(g.value, s))
            throw g.bad();
        o.seed = s;
        break;
    }
    case StopOnStdinEof:
        o.stopOnStdinEof = true;
        break;
    case HangupA:
    case HangupB:
        o.hangupAfter[code == HangupA ? 0 : 1].push_back(g.count());
        break;
    default:
        applyFault(o, code - FaultBase, g);
    }
}

}  // namespace

Options parseOptions(int argc, char** argv, bool& help)
{
    const std::vector<option> table = longOptions();
    Options o;
    help = false;
    opterr = 0;  // the messages below are the cable's own
    // "-" keeps the order and hands over stray words; ":" tells a missing value apart.
    for (;;) {
        const int at = optind;
        int index = -1;
        const int code = getopt_long(argc, argv, "-:h", table.data(), &index);
        if (code == -1)
            break;
        const std::string written = argv[at];
        Given g{written.substr(0, written.rfind("--", 0) == 0 ? written.find('=') : std::string::npos), {}};
        if (code == 1)
            throw UsageError{"unknown option " + written};
        if (code == ':')
            throw UsageError{g.arg + " needs a value"};
        if (code == '?') {
            if (g.arg == "--help") {  // "--help=anything" still helps
                help = true;
                return o;
            }
            const bool known = std::any_of(table.begin(), table.end() - 1,
                                           [&](const option& opt) { return g.arg == std::string("--") + opt.name; });
            throw UsageError{known && g.arg != written ? g.arg + " takes no value" : "unknown option " + written};
        }
        // getopt_long takes abbreviations; the cable knows its options only by their full names.
        if (index >= 0 && g.arg != std::string("--") + table[size_t(index)].name)
            throw UsageError{"unknown option " + written};
        if (code == Help) {
            help = true;
            return o;
        }
        if (optarg) {
            g.value = optarg;
            // "--link-a --baud 0" is a forgotten value, not a file named "--baud".
            if (g.arg == written && g.value.rfind("--", 0) == 0)
                throw UsageError{g.arg + " needs a value"};
        }
        apply(o, code, g);
    }
    if (optind > 1 && std::string(argv[optind - 1]) == "--")
        throw UsageError{"unknown option --"};
    for (auto& list : o.hangupAfter) {
        std::sort(list.begin(), list.end());
        list.erase(std::unique(list.begin(), list.end()), list.end());
    }
    return o;
}

}  // namespace vnm
