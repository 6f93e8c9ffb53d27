// qrnstamp <path with blanks written as "?"> <date number YYYYMMDDhhmmss>
//
// Sets the last-modification time of one existing file. Prints nothing;
// the exit code is the only answer (see SetModifiedTime).

#include "date_number.h"
#include "set_mtime.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr std::size_t kMaxPathChars = 299;
constexpr int kExitFailed = 2;

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return kExitFailed;

    char path[kMaxPathChars + 1];
    std::size_t length = 0;
    while (length < kMaxPathChars && argv[1][length] != '\0')
        ++length;
    std::memcpy(path, argv[1], length);
    path[length] = '\0';
    // The caller writes blanks as "?" so the path stays one argument.
    for (std::size_t i = 0; i < length; ++i) {
        if (path[i] == '?')
            path[i] = ' ';
    }

    const std::optional<LocalDateTime> when = TakeDateNumberApart(std::strtod(argv[2], nullptr));
    if (!when)
        return kExitFailed;

    return SetModifiedTime(path, *when);
}
