#include "console.h"

#include <cerrno>
#include <unistd.h>

namespace vnm {

void writeAll(int fd, const std::string& s)
{
    std::size_t done = 0;
    while (done < s.size()) {
        const ssize_t n = ::write(fd, s.data() + done, s.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;  // nobody listens any more; the cable keeps working
        done += static_cast<std::size_t>(n);
    }
}

void say(const std::string& line) { writeAll(STDOUT_FILENO, line + "\n"); }
void complain(const std::string& line) { writeAll(STDERR_FILENO, "vnullmodem: " + line + "\n"); }

}  // namespace vnm
