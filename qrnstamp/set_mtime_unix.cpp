#include "set_mtime.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kExitFailed = 2;

// Seconds east of UTC in force at this moment.
bool CurrentUtcOffset(std::time_t& offset)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (now == static_cast<std::time_t>(-1) || localtime_r(&now, &local) == nullptr)
        return false;
    offset = timegm(&local) - now;
    return true;
}

bool LocalToUtcWithCurrentOffset(const LocalDateTime& when, std::time_t& utc)
{
    std::tm fields{};
    fields.tm_year = when.year - 1900;
    fields.tm_mon = when.month - 1;
    fields.tm_mday = when.day;
    fields.tm_hour = when.hour;
    fields.tm_min = when.minute;
    fields.tm_sec = when.second;

    // The fields read as if they were UTC, then shifted by today's offset;
    // mktime would use the offset of the given date instead.
    errno = 0;
    const std::time_t asIfUtc = timegm(&fields);
    if (asIfUtc == static_cast<std::time_t>(-1) && errno != 0)
        return false;
    std::time_t offset = 0;
    if (!CurrentUtcOffset(offset))
        return false;
    utc = asIfUtc - offset;
    return true;
}

} // namespace

int SetModifiedTime(const char* path, const LocalDateTime& when)
{
    // O_NONBLOCK keeps a FIFO without a reader from hanging the tool.
    const int fd = open(path, O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return kExitFailed;

    std::time_t utc = 0;
    if (!LocalToUtcWithCurrentOffset(when, utc)) {
        close(fd);
        return kExitFailed;
    }

    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;  // access time stays as it is
    times[1].tv_sec = utc;
    times[1].tv_nsec = 0;

    const int result = futimens(fd, times);
    const int error = errno;
    close(fd);
    if (result == 0)
        return 0;
    return error != 0 ? error : kExitFailed;
}
