#pragma once
#include "line.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vnm {

extern const char* const kHelp;

struct DirectionOptions {
    FaultSettings faults;
    double latencyMs = 0;
};

struct Options {
    std::string link[2];
    double baud = 115200;
    double stepMs = 1;
    DirectionOptions dir[2];                    // 0: A->B, 1: B->A
    std::vector<std::uint64_t> hangupAfter[2];  // per end: 0 = A, 1 = B, sorted, no repeats
    std::optional<std::uint64_t> seed;
    bool stopOnStdinEof = false;
};

struct UsageError {
    std::string text;
};

// Throws UsageError with the text to show; help is set for --help and -h.
Options parseOptions(int argc, char** argv, bool& help);

}  // namespace vnm
